#include "deformers/quillform/kwimpact.h"

NodeData* KWImpact::Alloc() {
  return NewObj<KWImpact>("quillform\\source\\kwimpact", __LINE__);
}

void KWImpact::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  *centre = Vector();
  *halfSize = Vector();
}

// The Impact deformation arrives later; until then the object keeps its shape.
Bool KWImpact::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                            const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) {
  return true;
}
