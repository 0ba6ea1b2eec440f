#include "camera_api/cameras/model_factory.h"

namespace orvo {

std::unique_ptr<CZelCamera> CreateModelCamera(int model, CDevice* device) {
    (void)device;
    switch (model) {
    default:
        return nullptr;
    }
}

}  // namespace orvo
