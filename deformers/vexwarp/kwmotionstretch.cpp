#include "deformers/vexwarp/kwmotionstretch.h"

NodeData* KWMotionStretch::Alloc() {
  return NewObj<KWMotionStretch>("vexwarp\\source\\kwmotionstretch", __LINE__);
}

void KWMotionStretch::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  *centre = Vector();
  *halfSize = Vector();
}

// The Ridado Reruvod deformation arrives later; until then the object keeps its shape.
Bool KWMotionStretch::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op,
                                   const Matrix& opMg, const Matrix& modMg, Real lod, LONG flags,
                                   BaseThread* thread) {
  return true;
}
