#include "camera_api/cameras/model_params.h"

#include <algorithm>

namespace orvo {
namespace {

constexpr int kSensorParams[] = {0,  1,  2,  3,  9,  10, 11, 12, 14, 15, 16, 17, 23, 25, 26, 27,
                                 28, 29, 30, 31, 33, 34, 35, 36, 37, 38, 39, 48, 49, 51, 52, 53};
constexpr int kBirchParams[] = {4,  6,  9,  10, 11, 12, 13, 16, 17, 23, 40, 41, 42,
                                44, 45, 50, 55, 57, 63, 64, 65, 72, 73, 74, 75};
constexpr int kBirchModel5Params[] = {4,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 23, 24, 40, 41,
                                      42, 44, 45, 46, 50, 54, 55, 56, 57, 63, 64, 65, 72, 73, 74, 75};
constexpr int kAlderParams[] = {4,  6,  9,  10, 11, 12, 13, 14, 15, 16, 17, 40, 42, 44, 45, 50,
                                55, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70};

template <size_t N>
bool Contains(const int (&ids)[N], int id) noexcept {
    return std::find(ids, ids + N, id) != ids + N;
}

}  // namespace

bool ModelSupportsParam(int model, int paramId) noexcept {
    switch (model) {
    case 0: case 4: return Contains(kSensorParams, paramId);
    case 2: case 3: case 6: case 7: case 8: return Contains(kBirchParams, paramId);
    case 5: return Contains(kBirchModel5Params, paramId);
    case 9: case 10: case 11: case 12: return Contains(kAlderParams, paramId);
    default: return false;
    }
}

}  // namespace orvo
