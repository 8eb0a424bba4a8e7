#include "imaging/ztransform.h"

#include <cmath>

namespace fx {

namespace {

using Matrix = float[3][3];

void SetIdentity(Matrix& m) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = r == c ? 1.0f : 0.0f;
}

// m = step * m: the step applies after everything already in m.
void Prepend(Matrix& m, const Matrix& step) {
  Matrix product;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      product[r][c] = step[r][0] * m[0][c] + step[r][1] * m[1][c] + step[r][2] * m[2][c];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = product[r][c];
}

}  // namespace

PathTransform::PathTransform() {
  SetIdentity(m_);
}

void PathTransform::SetShear(float shearX, float shearY) {
  shearX_ = shearX;
  shearY_ = shearY;
  Rebuild();
}

void PathTransform::SetScale(float scaleX, float scaleY) {
  scaleX_ = scaleX;
  scaleY_ = scaleY;
  Rebuild();
}

void PathTransform::SetRotation(float rotation) {
  rotation_ = rotation;
  Rebuild();
}

void PathTransform::SetTranslation(float translateX, float translateY) {
  translateX_ = translateX;
  translateY_ = translateY;
  Rebuild();
}

// Points are sheared first, then scaled, rotated and finally moved.
void PathTransform::Rebuild() {
  SetIdentity(m_);
  if (shearX_ != 0 || shearY_ != 0) {
    const Matrix shear = {{1, std::tan(shearX_), 0}, {std::tan(shearY_), 1, 0}, {0, 0, 1}};
    Prepend(m_, shear);
  }
  if (scaleX_ != 1 || scaleY_ != 1) {
    const Matrix scale = {{scaleX_, 0, 0}, {0, scaleY_, 0}, {0, 0, 1}};
    Prepend(m_, scale);
  }
  if (rotation_ != 0) {
    const float c = std::cos(rotation_);
    const float s = std::sin(rotation_);
    const Matrix rotation = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
    Prepend(m_, rotation);
  }
  if (translateX_ != 0 || translateY_ != 0) {
    const Matrix translation = {{1, 0, translateX_}, {0, 1, translateY_}, {0, 0, 1}};
    Prepend(m_, translation);
  }
}

void PathTransform::Invert() {
  const Matrix& m = m_;
  Matrix adj;
  adj[0][0] = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  adj[0][1] = m[0][2] * m[2][1] - m[0][1] * m[2][2];
  adj[0][2] = m[0][1] * m[1][2] - m[0][2] * m[1][1];
  adj[1][0] = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  adj[1][1] = m[0][0] * m[2][2] - m[0][2] * m[2][0];
  adj[1][2] = m[0][2] * m[1][0] - m[0][0] * m[1][2];
  adj[2][0] = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  adj[2][1] = m[0][1] * m[2][0] - m[0][0] * m[2][1];
  adj[2][2] = m[0][0] * m[1][1] - m[0][1] * m[1][0];
  const float det = m[0][0] * adj[0][0] + m[0][1] * adj[1][0] + m[0][2] * adj[2][0];
  if (det == 0 || !std::isfinite(det)) {
    SetIdentity(m_);
    return;
  }
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m_[r][c] = adj[r][c] / det;
}

}  // namespace fx
