// The preview viewer: zoom and placement, painting through both of the
// host's drawing paths, point handles and panning.
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "framework/settings_block.h"
#include "ui/ps_control.h"
#include "ui/viewer.h"
#include "ui_fixture.h"

namespace {

using uitest::Session;
using uitest::Settle;

// A viewer of the preview area's size over a session's document, fitted.
struct Preview {
  explicit Preview(Session& s) : viewer(nullptr, *s.call, *s.preview) {
    viewer.setFixedSize(480, 350);
    viewer.zoomToFit();
  }
  Viewer viewer;
};

fx::Rect RectOf(int left, int top, int width, int height) {
  return {top, left, top + height, left + width};
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, buttons, modifiers);
  QApplication::sendEvent(w, &event);
}

TEST(ViewerZoom, ASmallImageIsShownWholeAndCentred) {
  Session s(uitest::kKinds, uitest::Gradient(300, 200));
  Preview p(s);
  EXPECT_EQ(p.viewer.zoom(), 1.0f);
  EXPECT_EQ(p.viewer.imageRect(), RectOf(90, 75, 300, 200));
  QSignalSpy zoomed(&p.viewer, &Viewer::zoomChanged);
  p.viewer.zoomIn();
  EXPECT_EQ(zoomed.count(), 0);
  EXPECT_EQ(p.viewer.imageRect(), RectOf(90, 75, 300, 200));
  // Zooming out stops at half the area's width (240 / 300, the smaller of
  // the two halves), and stays centred.
  for (int i = 0; i < 10; ++i) p.viewer.zoomOut();
  EXPECT_EQ(p.viewer.zoom(), 0.8f);
  EXPECT_EQ(p.viewer.imageRect(), RectOf(120, 95, 240, 160));
}

TEST(ViewerZoom, ALargeImageFitsByItsTighterSide) {
  Session s(uitest::kKinds, uitest::Gradient(4000, 3000));
  Preview p(s);
  // 470 / 4000 would leave the height too large: 340 / 3000 fits.
  EXPECT_EQ(p.viewer.zoom(), 340.0f / 3000);
  EXPECT_EQ(p.viewer.imageRect(), RectOf(13, 5, 453, 340));

  QSignalSpy zoomed(&p.viewer, &Viewer::zoomChanged);
  for (int i = 0; i < 10; ++i) p.viewer.zoomOut();
  // Stops where the image is half the area's height.
  EXPECT_EQ(p.viewer.zoom(), 175.0f / 3000);
  EXPECT_EQ(p.viewer.imageRect().Height(), 175);
  const int steps = zoomed.count();
  p.viewer.zoomOut();
  EXPECT_EQ(zoomed.count(), steps);
  EXPECT_EQ(zoomed.last().at(0).toFloat(), 175.0f / 3000);

  for (int i = 0; i < 40; ++i) p.viewer.zoomIn();
  EXPECT_EQ(p.viewer.zoom(), 1.0f);
}

TEST(ViewerZoom, OneToOneShowsTheCentreAndPanningStopsAtTheEdges) {
  Session s(uitest::kKinds, uitest::Gradient(4000, 3000));
  Preview p(s);
  p.viewer.zoom100();
  EXPECT_EQ(p.viewer.imageRect(), RectOf(240 - 2000, 175 - 1500, 4000, 3000));
  EXPECT_EQ(p.viewer.toDocument({240, 175}), QPoint(2000, 1500));

  Mouse(&p.viewer, QEvent::MouseButtonPress, {240, 175});
  Mouse(&p.viewer, QEvent::MouseMove, {250, 160});  // the image follows the mouse
  EXPECT_EQ(p.viewer.imageRect(), RectOf(250 - 2000, 160 - 1500, 4000, 3000));
  Mouse(&p.viewer, QEvent::MouseMove, {5000, 5000});
  EXPECT_EQ(p.viewer.imageRect(), RectOf(0, 0, 4000, 3000));
  Mouse(&p.viewer, QEvent::MouseMove, {-5000, -5000});
  EXPECT_EQ(p.viewer.imageRect(), RectOf(480 - 4000, 350 - 3000, 4000, 3000));
  Mouse(&p.viewer, QEvent::MouseButtonRelease, {-5000, -5000});
  EXPECT_TRUE(p.viewer.isDirty());
}

// ---------------------------------------------------------------- painting

QColor At(const QImage& image, int x, int y) {
  return image.pixelColor(x, y);
}

TEST(ViewerPaint, ThePreviewShowsTheRenderedImageInsideTheBackground) {
  Session s(uitest::kOneGroup, uitest::Gradient(300, 200));
  Preview p(s);
  const QImage shot = p.viewer.grab().toImage();
  EXPECT_EQ(uitest::TheProbe().renders, 1);
  EXPECT_FALSE(p.viewer.isDirty());
  const standin::Document& doc = s.host.Doc();
  for (QPoint d : {QPoint(0, 0), QPoint(299, 0), QPoint(150, 100), QPoint(299, 199)}) {
    const QColor c = At(shot, 90 + d.x(), 75 + d.y());
    EXPECT_EQ(c, QColor(255 - doc.At(d.x(), d.y(), 0), 255 - doc.At(d.x(), d.y(), 1),
                        255 - doc.At(d.x(), d.y(), 2)))
        << d.x() << "," << d.y();
  }
  const QColor background = p.viewer.palette().color(p.viewer.backgroundRole());
  for (QPoint w : {QPoint(0, 0), QPoint(89, 100), QPoint(390, 100), QPoint(200, 74), QPoint(200, 275)})
    EXPECT_EQ(At(shot, w.x(), w.y()), background) << w.x() << "," << w.y();

  // A change only marks the preview; the next paint renders once.
  p.viewer.invalidate();
  p.viewer.invalidate();
  p.viewer.grab();
  EXPECT_EQ(uitest::TheProbe().renders, 2);
  p.viewer.grab();
  EXPECT_EQ(uitest::TheProbe().renders, 2);
}

TEST(ViewerPaint, ASixteenBitDocumentIsPreviewedInEightBits) {
  Session s(uitest::kOneGroup, uitest::Gradient(300, 200, 16));
  Preview p(s);
  const QImage shot = p.viewer.grab().toImage();
  ASSERT_TRUE(p.viewer.hasBuffer());
  EXPECT_EQ(uitest::TheProbe().renders, 1);
  EXPECT_FALSE(uitest::TheProbe().saw16Bit);
  const standin::Document& doc = s.host.Doc();
  const int expected = 255 - doc.At(299, 0, 0) * 255 / 32768;
  EXPECT_NEAR(At(shot, 90 + 299, 75).red(), expected, 1);
  EXPECT_EQ(At(shot, 90, 75).red(), 255);
}

TEST(ViewerPaint, OtherHostsDrawThroughTheirDisplayCallback) {
  standin::HostOptions options;
  options.hostSignature = PI_FOURCC('T', 'E', 'S', 'T');
  Session s(uitest::kOneGroup, uitest::Gradient(300, 200), options);
  Preview p(s);
  p.viewer.grab();
  EXPECT_EQ(s.host.displayPixelsCalls, 1);
  EXPECT_EQ(uitest::TheProbe().renders, 1);
}

TEST(ViewerPaint, HandlesAreNestedSquaresAtTheirPoints) {
  Session s(uitest::kKinds, uitest::Gradient(300, 200));
  Viewer viewer(nullptr, *s.call, *s.preview);
  viewer.setFixedSize(480, 350);
  QWidget holder;
  new QVBoxLayout(&holder);
  PointControl center(s.Param("center"), &holder);
  viewer.addPointControl(&center);
  viewer.zoomToFit();
  const QImage shot = viewer.grab().toImage();
  const QPoint c(90 + 150, 75 + 100);
  EXPECT_EQ(viewer.pointToWidget(0, 0), c);
  EXPECT_EQ(At(shot, c.x() - 5, c.y() - 5), QColor(Qt::black));
  EXPECT_EQ(At(shot, c.x() + 5, c.y() + 5), QColor(Qt::black));
  EXPECT_EQ(At(shot, c.x() - 4, c.y()), QColor(Qt::white));
  EXPECT_EQ(At(shot, c.x() + 3, c.y() - 3), QColor(Qt::black));
  EXPECT_NE(At(shot, c.x() + 6, c.y()), QColor(Qt::black));
  // A disabled point has no handle.
  fx::SetEnabled(s.Param("center"), false);
  viewer.invalidate();
  const QImage without = viewer.grab().toImage();
  EXPECT_NE(At(without, c.x() - 5, c.y() - 5), QColor(Qt::black));
}

// ---------------------------------------------------------------- dragging points

class ViewerHandles : public ::testing::Test {
 protected:
  ViewerHandles() : s(uitest::kKinds, uitest::Gradient(300, 200)), viewer(nullptr, *s.call, *s.preview) {
    new QVBoxLayout(&holder);
    center = new PointControl(s.Param("center"), &holder);
    viewer.setFixedSize(480, 350);
    viewer.addPointControl(center);
    viewer.zoomToFit();
    viewer.grab();
  }
  ~ViewerHandles() override { delete center; }
  Session s;
  QWidget holder;
  Viewer viewer;
  PointControl* center = nullptr;
  const QPoint handle{240, 175};
};

TEST_F(ViewerHandles, DraggingAHandleMovesItsPointWithoutAChangeSignal) {
  QSignalSpy changed(center, &psControl::changed);
  Mouse(&viewer, QEvent::MouseButtonPress, handle + QPoint(3, -2));
  EXPECT_EQ(viewer.hotHandle(), 0);
  Mouse(&viewer, QEvent::MouseMove, {260, 165});
  EXPECT_DOUBLE_EQ(s.Param("center").point.x, 170.0 / 300 - 0.5);
  EXPECT_DOUBLE_EQ(s.Param("center").point.y, 90.0 / 200 - 0.5);
  EXPECT_EQ(center->xEdit()->text(), "6.67");
  EXPECT_EQ(center->yEdit()->text(), "-5.00");
  EXPECT_TRUE(viewer.isDirty());
  // Outside the image the value goes past the edge and stays there.
  Mouse(&viewer, QEvent::MouseMove, {0, 349});
  Mouse(&viewer, QEvent::MouseButtonRelease, {0, 349});
  EXPECT_DOUBLE_EQ(s.Param("center").point.x, -90.0 / 300 - 0.5);
  EXPECT_DOUBLE_EQ(s.Param("center").point.y, 274.0 / 200 - 0.5);
  EXPECT_EQ(changed.count(), 0);
  const int renders = uitest::TheProbe().renders;
  viewer.grab();
  EXPECT_EQ(uitest::TheProbe().renders, renders + 1);
  // Moving without the button only changes which handle is lit.
  Mouse(&viewer, QEvent::MouseMove, {200, 100});
  EXPECT_DOUBLE_EQ(s.Param("center").point.x, -0.8);
  EXPECT_EQ(viewer.hotHandle(), -1);
}

TEST_F(ViewerHandles, ShiftPressDoesNotGrabAHandle) {
  Mouse(&viewer, QEvent::MouseButtonPress, handle, Qt::ShiftModifier);
  EXPECT_EQ(viewer.hotHandle(), -1);
  Mouse(&viewer, QEvent::MouseMove, {300, 300});
  Mouse(&viewer, QEvent::MouseButtonRelease, {300, 300});
  EXPECT_EQ(s.Param("center").point.x, 0.0);
  EXPECT_EQ(s.Param("center").point.y, 0.0);
}

TEST_F(ViewerHandles, TheHandleUnderTheMouseIsLitAndPointed) {
  Mouse(&viewer, QEvent::MouseMove, handle + QPoint(5, 5));
  EXPECT_EQ(viewer.hotHandle(), 0);
  EXPECT_EQ(viewer.cursor().shape(), Qt::PointingHandCursor);
  const QImage lit = viewer.grab().toImage();
  EXPECT_EQ(At(lit, handle.x() - 4, handle.y()), QColor(255, 0, 0));
  Mouse(&viewer, QEvent::MouseMove, handle + QPoint(6, 0));
  EXPECT_EQ(viewer.hotHandle(), -1);
  EXPECT_EQ(viewer.cursor().shape(), Qt::ArrowCursor);  // the whole image is in view
}

// ---------------------------------------------------------------- comparing with the original

void Backslash(QWidget* to, QEvent::Type type, bool autoRepeat = false) {
  QKeyEvent event(type, Qt::Key_Backslash, Qt::NoModifier, QStringLiteral("\\"), autoRepeat);
  QApplication::sendEvent(to, &event);
}

void Hover(QWidget* w, bool over) {
  if (over) {
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), w->mapToGlobal(QPointF(10, 10)));
    QApplication::sendEvent(w, &enter);
  } else {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w, &leave);
  }
}

TEST(ViewerCompare, BackslashOverThePreviewShowsTheSourceInTheSameViewWithoutRendering) {
  struct Case {
    const char* name;
    int width, height;
    bool zoomedIn;  // 1:1 on a large document, panned off its centre
  };
  for (const Case& c : {Case{"whole image", 300, 200, false}, Case{"zoomed in", 1000, 800, true}}) {
    // No point handles are drawn over this effect's image.
    Session s(uitest::kOneGroup, uitest::Gradient(c.width, c.height));
    auto d = s.Dialog();
    d->show();
    Settle();
    Viewer* viewer = d->viewer();
    EXPECT_TRUE(viewer->toolTip().contains("backslash")) << c.name;
    if (c.zoomedIn) {
      viewer->zoom100();
      Mouse(viewer, QEvent::MouseButtonPress, {100, 100});
      Mouse(viewer, QEvent::MouseMove, {160, 130});
      Mouse(viewer, QEvent::MouseButtonRelease, {160, 130});
    }
    const QImage result = viewer->grab().toImage();
    const fx::Rect shownRect = viewer->imageRect();
    const int renders = uitest::TheProbe().renders;
    const std::vector<uint8_t> settings = fx::BuildSettings(*s.effect);
    // The keyboard is with a control's edit, the mouse over the preview.
    QLineEdit* edit = static_cast<RangeControl*>(d->controls()[1])->edit();
    edit->setFocus();
    const QString text = edit->text();
    Hover(viewer, true);

    Backslash(edit, QEvent::KeyPress);
    EXPECT_TRUE(viewer->isShowingOriginal()) << c.name;
    const QImage original = viewer->grab().toImage();
    EXPECT_EQ(viewer->imageRect(), shownRect) << c.name;
    const int left = std::max(0, shownRect.left), top = std::max(0, shownRect.top);
    const int right = std::min(480, shownRect.right), bottom = std::min(350, shownRect.bottom);
    int compared = 0;
    for (int y = top; y < bottom; y += 7)
      for (int x = left; x < right; x += 5) {
        const QColor r = At(result, x, y), o = At(original, x, y);
        // The test effect inverts: the source is the result turned back.
        if (o != QColor(255 - r.red(), 255 - r.green(), 255 - r.blue())) {
          ADD_FAILURE() << c.name << " at " << x << "," << y;
          y = bottom;
          break;
        }
        ++compared;
      }
    EXPECT_GT(compared, 1000) << c.name;
    if (!c.zoomedIn) {
      EXPECT_EQ(At(original, 2, 2), At(result, 2, 2)) << c.name;  // the frame round the image
    }

    // Holding the key repeats it; that changes nothing, and nothing is typed.
    Backslash(edit, QEvent::KeyRelease, true);
    Backslash(edit, QEvent::KeyPress, true);
    EXPECT_TRUE(viewer->isShowingOriginal()) << c.name;
    EXPECT_EQ(edit->text(), text) << c.name;

    Backslash(edit, QEvent::KeyRelease);
    EXPECT_FALSE(viewer->isShowingOriginal()) << c.name;
    EXPECT_EQ(viewer->grab().toImage(), result) << c.name;
    EXPECT_EQ(uitest::TheProbe().renders, renders) << c.name;
    EXPECT_EQ(fx::BuildSettings(*s.effect), settings) << c.name;
    EXPECT_FALSE(viewer->isDirty()) << c.name;

    // Away from the preview the key is the edit's again.
    Hover(viewer, false);
    Backslash(edit, QEvent::KeyPress);
    EXPECT_FALSE(viewer->isShowingOriginal()) << c.name;
  }
}

TEST(ViewerCompare, LeavingThePreviewEndsTheComparison) {
  Session s(uitest::kKinds, uitest::Gradient(300, 200));
  auto d = s.Dialog();
  d->show();
  Settle();
  Hover(d->viewer(), true);
  Backslash(d->viewer(), QEvent::KeyPress);
  ASSERT_TRUE(d->viewer()->isShowingOriginal());
  Hover(d->viewer(), false);
  EXPECT_FALSE(d->viewer()->isShowingOriginal());
  // A release that comes later is nobody's.
  Backslash(d->viewer(), QEvent::KeyRelease);
  EXPECT_FALSE(d->viewer()->isShowingOriginal());
}

// ---------------------------------------------------------------- high-density screens

TEST(ViewerDensity, OneToOneOnADenseScreenShowsEveryImagePixelAsOneOfTheScreen) {
  QScreen* dense = uitest::Screen("Dense");
  ASSERT_EQ(dense->devicePixelRatio(), 2.0) << "the test screens are missing";
  struct Case {
    const char* name;
    int width, height;  // whole in view, or larger than the preview
  };
  for (const Case& c : {Case{"whole image", 300, 200}, Case{"zoomed in", 1200, 900}}) {
    Session s(uitest::kOneGroup, uitest::Gradient(c.width, c.height));
    Viewer viewer(nullptr, *s.call, *s.preview);
    viewer.setScreen(dense);
    viewer.setFixedSize(480, 350);
    viewer.zoom100();
    const QImage shot = viewer.grab().toImage();
    ASSERT_EQ(viewer.pixelRatio(), 2.0) << c.name;
    ASSERT_EQ(shot.size(), QSize(960, 700)) << c.name;
    EXPECT_EQ(viewer.zoom(), 1.0f) << c.name;
    // The document's centre is under the preview's, in either coordinates.
    EXPECT_EQ(viewer.toDocument({240, 175}), QPoint(c.width / 2, c.height / 2)) << c.name;
    EXPECT_EQ(viewer.pointToWidget(0, 0), QPoint(240, 175)) << c.name;
    const fx::Rect r = viewer.imageRect();
    EXPECT_EQ(r.Width(), c.width) << c.name;
    EXPECT_EQ(r.Height(), c.height) << c.name;

    // Every screen pixel over the image is the output pixel of one image
    // pixel: the test effect inverts the document.
    const standin::Document& doc = s.host.Doc();
    const int left = std::max(0, r.left), top = std::max(0, r.top);
    const int right = std::min(960, r.right), bottom = std::min(700, r.bottom);
    int wrong = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) {
        const int dx = x - r.left, dy = y - r.top;
        const QColor expected(255 - doc.At(dx, dy, 0), 255 - doc.At(dx, dy, 1), 255 - doc.At(dx, dy, 2));
        if (shot.pixelColor(x, y) != expected && ++wrong <= 3) ADD_FAILURE() << c.name << " at " << x << "," << y;
      }
    EXPECT_EQ(wrong, 0) << c.name;
    EXPECT_EQ(uitest::TheProbe().renders, 1) << c.name;
  }
}

TEST(ViewerDensity, HandlesKeepTheirSizeInWidgetPixelsAndAreGrabbedThere) {
  Session s(uitest::kKinds, uitest::Gradient(300, 200));
  Viewer viewer(nullptr, *s.call, *s.preview);
  viewer.setScreen(uitest::Screen("Dense"));
  viewer.setFixedSize(480, 350);
  QWidget holder;
  new QVBoxLayout(&holder);
  PointControl center(s.Param("center"), &holder);
  viewer.addPointControl(&center);
  viewer.zoomToFit();
  const QImage shot = viewer.grab().toImage();
  ASSERT_EQ(shot.size(), QSize(960, 700));
  // Fitted in screen pixels: the whole small image at 1:1, centred.
  EXPECT_EQ(viewer.zoom(), 1.0f);
  const QPoint c = viewer.pointToWidget(0, 0);
  EXPECT_EQ(c, QPoint(240, 175));
  // The outer square is 11 widget pixels across: 22 of the screen's.
  EXPECT_EQ(shot.pixelColor(2 * (c.x() - 5), 2 * c.y()), QColor(Qt::black));
  EXPECT_EQ(shot.pixelColor(2 * (c.x() + 5), 2 * c.y()), QColor(Qt::black));
  EXPECT_NE(shot.pixelColor(2 * (c.x() + 6), 2 * c.y()), QColor(Qt::black));

  Mouse(&viewer, QEvent::MouseButtonPress, c + QPoint(5, 0));
  EXPECT_EQ(viewer.hotHandle(), 0);
  Mouse(&viewer, QEvent::MouseMove, c + QPoint(30, 20));
  Mouse(&viewer, QEvent::MouseButtonRelease, c + QPoint(30, 20));
  // 30 widget pixels are 60 image pixels at 1:1 on this screen.
  EXPECT_DOUBLE_EQ(s.Param("center").point.x, 210.0 / 300 - 0.5);
  EXPECT_DOUBLE_EQ(s.Param("center").point.y, 140.0 / 200 - 0.5);
}

TEST(ViewerDensity, MovingToADenseScreenFitsAFittedViewAgainAndKeepsAnyOther) {
  Session s(uitest::kOneGroup, uitest::Gradient(2000, 1500));
  Viewer viewer(nullptr, *s.call, *s.preview);
  viewer.setScreen(uitest::Screen("Desk"));
  viewer.setFixedSize(480, 350);
  viewer.zoomToFit();
  viewer.grab();
  EXPECT_EQ(viewer.zoom(), 340.0f / 1500);
  viewer.setScreen(uitest::Screen("Dense"));
  EXPECT_EQ(viewer.grab().toImage().size(), QSize(960, 700));
  EXPECT_EQ(viewer.pixelRatio(), 2.0);
  EXPECT_EQ(viewer.zoom(), 680.0f / 1500);

  // At 1:1 the zoom stays, and the document point in the middle too.
  viewer.setScreen(uitest::Screen("Desk"));
  viewer.zoom100();
  Mouse(&viewer, QEvent::MouseButtonPress, {240, 175});
  Mouse(&viewer, QEvent::MouseMove, {200, 150});
  Mouse(&viewer, QEvent::MouseButtonRelease, {200, 150});
  const QPoint middle = viewer.toDocument({240, 175});
  viewer.setScreen(uitest::Screen("Dense"));
  viewer.grab();
  EXPECT_EQ(viewer.zoom(), 1.0f);
  EXPECT_EQ(viewer.toDocument({240, 175}), middle);
}

}  // namespace
