// The model camera class that serves each model code.
#pragma once
#include <memory>

#include "camera_api/cameras/zel_camera.h"

namespace orvo {

class CDevice;

// The camera for the model code on that device, or null when no class serves
// the code (model 1 and codes above 12) or the object could not be made.
std::unique_ptr<CZelCamera> CreateModelCamera(int model, CDevice* device);

}  // namespace orvo
