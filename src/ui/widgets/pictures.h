#pragma once
// The program's pictures, drawn in code: the main window's banner and logo, the two
// clickable pictures with their hover forms, the drive image strip, the program icon, the
// progress dialog's activity icons and the option dialog's images. Each function names the
// resource number it stands for.

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QSize>

namespace palvoro {

// Numbered picture resources.
enum PictureId : int {
  kBitmapSmartRowImages = 129,  // SMART attribute list row images (16 px strip)
  kIconActivity1 = 135,         // turning disk, four frames 135..138
  kIconActivity2 = 136,
  kIconActivity3 = 137,
  kIconActivity4 = 138,
  kIconSuccess = 147,           // the progress dialog's outcomes
  kIconFailure = 148,
  kBitmapOptionImages = 159,   // option list images (32 px strip)
  kBitmapOptionPicture = 196,  // the option dialog's drive picture
};

// Indexes into DriveImageStrip (16 x 16 images).
enum DriveImageIndex : int {
  kDriveImageAtaDrive = 0,
  kDriveImageGenericDrive = 1,
  kDriveImageOpticalDisc = 2,
  kDriveImageRemovable = 3,
  kDriveImageSataDrive = 4,
  kDriveImagePass = 5,         // green check mark
  kDriveImageFail = 6,         // red cross
  kDriveImageInformation = 7,
  kDriveImageUnknown = 8,      // grey question mark
  kDriveImageFireWire = 9,
  kDriveImageUsb = 10,
  kDriveImageScsi = 11,
  kDriveImageWarning = 12,     // yellow warning triangle
  kDriveImageRaid = 13,
  kDriveImageStop = 14,
  kDriveImageBusy = 15,
  kDriveImageCount = 16,
};

// Indexes into the option list images (bitmap 159, 32 x 32): the four options by test
// kind, then the outcomes at 4 + test state.
enum OptionImageIndex : int {
  kOptionImageQuickTest = 0,
  kOptionImageExtendedTest = 1,
  kOptionImageErase = 2,
  kOptionImageViewResult = 3,
  kOptionImagePass = 4,
  kOptionImageFail = 5,
  kOptionImageAbort = 6,
  kOptionImageComplete = 7,
  kOptionImageCount = 8,
};

inline constexpr int kDriveImageSize = 16;
inline constexpr int kOptionImageSize = 32;

// The wide product banner of the main window.
QPixmap bannerPicture(QSize size = QSize(512, 133));
// The small maker's logo; transparent background, so it sits on the dialog face colour.
QPixmap logoPicture(int size = 48);
// The clickable run-tests picture: a small grey drive with a green light; hover form:
// yellow outline and a red light.
QPixmap runTestsPicture(bool hover);
// The clickable SMART picture: a small page of text; hover form: the page highlighted.
QPixmap smartPicture(bool hover);

// DriveImageStrip: 16 images of 16 x 16 side by side, transparent where the original
// strip is white.
QImage driveImageStrip();
QList<QPixmap> driveImages();

// The program icon (16, 32 and 48 pixels).
QIcon programIcon();
// The same drawing at any size: the desktop's icon theme gets it from 16 to 256 pixels.
QImage programIconImage(int size);

// Icons 135..138: the turning disk, frame 0..3.
QPixmap activityIcon(int frame);
// Icon 147: a test ended well.
QPixmap successIcon();
// Icon 148: a test ended with an error.
QPixmap failureIcon();
// Icons 135..138, 147 and 148 by number; a null pixmap for another number.
QPixmap iconResource(int id);

// Bitmap 129: the SMART attribute list's row images (5 normal row, 6 failed row), the
// same pictures as DriveImageStrip.
QImage smartRowImageStrip();
// Bitmap 159: the option list images, 8 of 32 x 32 side by side.
QImage optionImageStrip();
QList<QPixmap> optionImages();
// Bitmap 196: the option dialog's picture of an opened hard drive.
QPixmap optionDialogPicture();

}  // namespace palvoro
