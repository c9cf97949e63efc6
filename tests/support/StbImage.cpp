// The image reader the tests use to look at the PNG files the programs write.
#define STBI_ONLY_PNG
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
