// The program's pictures: the tray and window icon, the menu images, the built-in splash
// picture and the info window's banner.
//
// The icon "TNA_ICON_1" is a 16 x 16 picture drawn pixel by pixel for the notification area,
// with a scalable drawing of the same clock face for larger trays and windows. The menu images
// are scalable drawings, by their index in the tray menu. The splash picture and the banner are
// painted here, so they need no image file.
#pragma once

#include <QIcon>
#include <QImage>

namespace kairelon {

// The 16 x 16 picture alone (null only when the program's resources are missing).
QImage TnaIcon16();
// The program's icon: the 16 x 16 picture at 16 pixels, the scalable drawing at other sizes.
QIcon ProgramIcon();

// The images of the tray menu, by index: 0 synchronise, 1 info, 2 quit, 3 options, 4 help.
enum EMenuImage { miSync = 0, miInfo = 1, miQuit = 2, miOptions = 3, miHelp = 4 };
constexpr int MenuImageCount = 5;
// An empty icon for an index out of range.
QIcon MenuImage(int index);

// The splash picture shown when no logo library provides one: 348 x 212.
QImage BuiltInSplashPicture();
// The banner at the top of the info window: 320 x 30.
QImage InfoBanner();

} // namespace kairelon
