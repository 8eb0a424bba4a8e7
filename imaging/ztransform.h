// The affine transformation a path is drawn with: kept as its components
// (shear, scale, rotation, translation) and as the 3 x 3 single-precision
// matrix rebuilt from them whenever one changes.
#pragma once

namespace fx {

class PathTransform {
 public:
  PathTransform();

  // Angles are in radians. Each setter rebuilds the matrix from the
  // components, which also undoes an earlier Invert.
  void SetShear(float shearX, float shearY);
  void SetScale(float scaleX, float scaleY);
  void SetRotation(float rotation);
  void SetTranslation(float translateX, float translateY);

  float ShearX() const { return shearX_; }
  float ShearY() const { return shearY_; }
  float ScaleX() const { return scaleX_; }
  float ScaleY() const { return scaleY_; }
  float Rotation() const { return rotation_; }
  float TranslateX() const { return translateX_; }
  float TranslateY() const { return translateY_; }

  // Row-major: x' = m[0][0] x + m[0][1] y + m[0][2], y' = m[1][0] x + m[1][1] y + m[1][2].
  float At(int row, int column) const { return m_[row][column]; }

  void Map(float x, float y, float& outX, float& outY) const {
    outX = m_[0][0] * x + m_[0][1] * y + m_[0][2];
    outY = m_[1][0] * x + m_[1][1] * y + m_[1][2];
  }

  // Replaces the matrix by its inverse (adjugate over determinant); a
  // singular (or non-finite) matrix becomes the identity.
  void Invert();

 private:
  void Rebuild();

  float m_[3][3];
  float shearX_ = 0;
  float shearY_ = 0;
  float scaleX_ = 1;
  float scaleY_ = 1;
  float rotation_ = 0;
  float translateX_ = 0;
  float translateY_ = 0;
};

}  // namespace fx
