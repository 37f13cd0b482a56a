#include "deformers/quillform/kwscrollroll.h"

NodeData* KWScrollRoll::Alloc() {
  return NewObj<KWScrollRoll>("quillform\\source\\kwscrollroll", __LINE__);
}

void KWScrollRoll::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  *centre = Vector();
  *halfSize = Vector();
}

// The Reduze Zivi deformation arrives later; until then the object keeps its shape.
Bool KWScrollRoll::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op,
                                const Matrix& opMg, const Matrix& modMg, Real lod, LONG flags,
                                BaseThread* thread) {
  return true;
}
