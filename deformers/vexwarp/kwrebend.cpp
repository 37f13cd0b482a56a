#include "deformers/vexwarp/kwrebend.h"

NodeData* KWRebend::Alloc() {
  return NewObj<KWRebend>("vexwarp\\source\\kwrebend", __LINE__);
}

void KWRebend::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  *centre = Vector();
  *halfSize = Vector();
}

// The Rebend deformation arrives later; until then the object keeps its shape.
Bool KWRebend::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                            const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) {
  return true;
}
