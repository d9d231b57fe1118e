// `to image!` of a face: the terminal backend draws faces in character cells only, so it
// renders no image.
#include "runtime/hooks.h"

namespace kel::tui {

void face_to_image(const Cell*, Cell*) {}

}  // namespace kel::tui
