#include "camera_api/transport/winusb_buffer.h"

#include <new>

namespace orvo {

bool CWinUsbBuffer::Allocate(uint32_t blockSize, uint32_t blockCount) {
    if (Data()) return true;
    if (!CStreamBuffer::Allocate(blockSize, blockCount)) return false;
    m_lengths.reset(new (std::nothrow) uint32_t[blockCount]());
    if (!m_lengths) {
        CStreamBuffer::Free();
        return false;
    }
    return true;
}

void CWinUsbBuffer::Free() {
    CStreamBuffer::Free();
    m_lengths.reset();
}

int CWinUsbBuffer::SetBlockLength(uint32_t index, uint32_t length) {
    if (m_lengths && index < BlockCount()) m_lengths[index] = length < BlockSize() ? length : BlockSize();
    return 0;
}

uint32_t CWinUsbBuffer::BlockLength(uint32_t index) const noexcept {
    return (m_lengths && index < BlockCount()) ? m_lengths[index] : 0;
}

bool CWinUsbBuffer::BindPipe(WINUSB_INTERFACE_HANDLE, uint8_t pipeId) {
    m_pipeId = pipeId;
    return true;
}

CWinUsbIsochBuffer::~CWinUsbIsochBuffer() { UnbindPipe(); }

bool CWinUsbIsochBuffer::BindPipe(WINUSB_INTERFACE_HANDLE interfaceHandle, uint8_t pipeId) {
    if (!m_api.isochAvailable || IsRegistered() || !Data()) return false;
    m_pipeId = pipeId;
    WINUSB_ISOCH_BUFFER_HANDLE handle = nullptr;
    if (!m_api.RegisterIsochBuffer(interfaceHandle, pipeId, Data(), BlockCount() * BlockSize(), &handle)) return false;
    m_isochHandle = handle;
    return true;
}

bool CWinUsbIsochBuffer::UnbindPipe() {
    if (!m_api.isochAvailable) return false;
    if (IsRegistered() && m_api.UnregisterIsochBuffer(m_isochHandle)) m_isochHandle = kUnregistered;
    return !IsRegistered();
}

}  // namespace orvo
