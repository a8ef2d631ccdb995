// One TAPI line device.
#pragma once

#include "tapi/tspi.h"

class CTspLine {
 public:
  explicit CTspLine(DWORD deviceId) : m_dwDeviceID(deviceId) {}
  DWORD GetDeviceID() const { return m_dwDeviceID; }

 private:
  DWORD m_dwDeviceID;
};
