// How the provider talks back to TAPI: line and call events through a line's
// event procedure, and the small helpers events and commands share.
#pragma once

#include <string>

#include "tapi/tspi.h"

class CTspLine;

// The provider's dial parameters (ms): pause, speed, digit duration, wait for dial tone.
inline constexpr LINEDIALPARAMS g_DefaultDialParams = {1000, 80, 80, 3000};

// Sends one event for the line; dropped (with a warning) while TAPI has not opened it.
void QelLineEvent(CTspLine* line, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                  DWORD_PTR dwParam3);

// Trace names of TAPI messages and call states; "???" for anything else.
const char* QelLineMsgName(DWORD dwMsg);
const char* QelCallStateName(DWORD dwState);

// TAPI's wide text in the ANSI code page: the length, or -1 (text unchanged) when
// it needs 265 bytes or more to fit.
int QelWideCharToString(const WCHAR* text, std::string* out);
// Only the dialable characters 0-9, * and # of a wide text: the count kept, or -1
// when the buffer is too small (it then holds what fitted) or the text cannot be converted.
int QelWideCharToDialableString(const WCHAR* text, char* buffer, int size);
