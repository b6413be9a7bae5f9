// Colours of the solid pictures of the tabs resource module (generated with the pictures).
#pragma once

struct TabPictureColour { int id; unsigned char r, g, b; };
inline constexpr TabPictureColour kTabPictureColours[] = {
    {101, 204, 40, 40},
    {102, 204, 89, 40},
    {103, 204, 138, 40},
    {104, 204, 187, 40},
    {105, 171, 204, 40},
    {106, 122, 204, 40},
    {107, 73, 204, 40},
    {108, 40, 204, 57},
    {109, 40, 204, 106},
    {110, 40, 204, 155},
    {111, 40, 204, 204},
    {112, 40, 155, 204},
    {113, 40, 106, 204},
    {114, 40, 57, 204},
    {115, 73, 40, 204},
    {116, 122, 40, 204},
    {117, 171, 40, 204},
    {118, 204, 40, 187},
    {3640, 242, 157, 208},
    {3641, 242, 157, 182},
};
