// Matrix and vector helpers, vertex normals, the gizmo-object lookup and small object
// searches shared by the deformers and the falloff shapes. Nothing here keeps state.
#pragma once

#include "kwhost/c4d.h"

/// The ID of the link in the anchor tag's container that names the gizmo object.
constexpr LONG NULLPIN_LINK_ID = 1000;

/// The identity: zero offset and unit axes.
Matrix MatrixIdentity();

/// The product a·b (b applied first): the offset is a·b.off, the axes are a's axes applied to
/// b's axes without a's offset.
Matrix MatrixMul(const Matrix& a, const Matrix& b);

/// Replaces `p` by m·p (offset included).
void TransformPoint(const Matrix& m, Vector& p);

/// The inverse of an affine matrix: the axis block through its adjugate divided by its
/// determinant, the offset as minus the inverted block applied to m.off. A determinant that is
/// exactly 0 yields the identity, so callers never see infinities from a flattened gizmo.
Matrix MatrixInvert(const Matrix& m);

/// True only when all twelve components compare equal with ==; a NaN makes them unequal.
Bool MatrixEqual(const Matrix& a, const Matrix& b);

/// Scales `v` to unit length and returns its former length. A zero vector stays zero.
Real Normalize(Vector& v);

/// 0 below a, 1 at and above b, and the cubic t²·(3 − 2t) with t = (x − a)/(b − a) between.
Real SmoothStep(Real a, Real b, Real x);

/// The object that places a deformer's gizmo, handles and falloff: the object linked by the
/// first anchor tag (type 1030379) on `deformer`, resolved in the deformer's document, or the
/// deformer itself when there is no tag, the link is empty or does not resolve to an object.
BaseObject* GetGizmoObject(BaseObject* deformer);

/// The global matrix of `GetGizmoObject(deformer)`.
Matrix GetGizmoMatrix(BaseObject* deformer);

/// The first tag of `object` whose name is `name` and whose type is `type`; null when there is
/// none or `object` is null.
BaseTag* FindTagByName(BaseObject* object, const String& name, LONG type);

/// The object whose deform cache is `deformed`, searched in the subtree of the deformer's
/// parent (the parent first, then depth-first pre-order). Null when the deformer has no parent
/// or no object of that subtree owns the copy.
BaseObject* FindCacheOwner(BaseObject* deformed, BaseObject* deformer);

/// Per-point vertex normals of `object`'s polygons, computed from `points` (object-local, one
/// per point of `object`), taken through `m` first when `transform` is set. Each polygon adds
/// its face vector (B − A) × (C − A), not normalised, to all four corners (so a triangle counts
/// its last corner twice); each sum is divided by its corner count and normalised. A point in no
/// polygon gets (0, 0, 0). Polygons with a corner outside the point range are skipped.
/// Returns false, leaving `normals` untouched, only when the counters cannot be allocated.
Bool CalcVertexNormals(const Vector* points, const Matrix& m, Bool transform, Vector* normals,
                       BaseObject* object);

/// Shows or hides the description entry `id` (sets its hide flag to !show); nothing happens
/// when the description has no such entry.
void ShowParameter(BaseList2D* object, Description* description, LONG id, Bool show);

/// Draws an X of edge length `size` centred on `centre` in the current drawing matrix, in plane
/// 0 (Y-Z), 1 (X-Z) or 2 (Y-X). Another plane draws nothing.
void DrawCross(BaseDraw* bd, Real size, const Vector& centre, LONG plane);

/// Draws the outline of a square of edge length `size` centred on `centre` in the current
/// drawing matrix, in the planes of `DrawCross`.
void DrawSquare(BaseDraw* bd, Real size, const Vector& centre, LONG plane);
