// The PNG writer behind screenshots and recorded frames, compiled into this library.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
