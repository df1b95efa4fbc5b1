// Pads the image to a power-of-two size with credit-text banks.
#pragma once

#include "exit_status.h"
#include "image/image.h"

namespace bankstitcher {

// Appends padding banks up to the next power-of-two image size, with the
// padding line, and warns when the image is larger than a board or the bank
// switch can hold; leaves address and page.
Status pad_image(Image& image);

}  // namespace bankstitcher
