// The categories of controller information a two-way client asks for and the server fetches:
// one bit each, sent as a 32-bit mask.
#pragma once

enum BiDiCategory : long {
    BiDiConnect = 1,
    BiDiFeatures = 2,
    BiDiEmailNotify = 4,
    BiDiMultipleDefaults = 8,
    BiDiVPAttributes = 16,
    BiDiVPFlaggedAttributes = 32,
};
// Every category the server knows.
constexpr long kBiDiAllCategories = 63;
