#include "deformers/vexwarp/kwseam.h"

NodeData* KWSeam::Alloc() {
  return NewObj<KWSeam>("vexwarp\\source\\kwseam", __LINE__);
}

void KWSeam::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  *centre = Vector();
  *halfSize = Vector();
}

// The Seam deformation arrives later; until then the object keeps its shape.
Bool KWSeam::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                          const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) {
  return true;
}
