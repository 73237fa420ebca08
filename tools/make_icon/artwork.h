// The KEYMEND picture: a USB trident and a 5-pin DIN socket joined by a red loop of arrows, with
// DUVA in white on a blue band across the middle.
#ifndef KEYMEND_TOOLS_MAKE_ICON_ARTWORK_H_
#define KEYMEND_TOOLS_MAKE_ICON_ARTWORK_H_

#include "raster.h"

namespace make_icon {

// The picture at 16, 32, 48 or 256 pixels; each size is drawn for its own grid.
Image DrawPicture(int size);

}  // namespace make_icon

#endif  // KEYMEND_TOOLS_MAKE_ICON_ARTWORK_H_
