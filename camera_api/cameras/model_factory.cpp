#include "camera_api/cameras/model_factory.h"

#include <new>

#include "camera_api/cameras/command_status_camera.h"
#include "camera_api/cameras/zel_cedar.h"

namespace orvo {

std::unique_ptr<CZelCamera> CreateModelCamera(int model, CDevice* device) {
    switch (model) {
    case 0:
        return std::unique_ptr<CZelCamera>(new (std::nothrow) CZelCedar(device, 1));
    case 4:
        return std::unique_ptr<CZelCamera>(new (std::nothrow) CZelCedar(device, 0));
    case 2: case 3: case 5: case 6: case 7: case 8:
        return std::unique_ptr<CZelCamera>(new (std::nothrow) CZelBirch(device));
    case 9: case 10: case 11: case 12:
        return std::unique_ptr<CZelCamera>(new (std::nothrow) CZelAlder(device));
    default:
        return nullptr;   // model 1 and codes above 12 are not served
    }
}

}  // namespace orvo
