// The state one flightlog block keeps from mdlStart to mdlTerminate.
#pragma once

#include <cstdint>
#include <memory>

#include "ElapsedTime.h"
#include "TextFileStream.h"

class CKYTEPlaybackSave {
 public:
  CKYTEPlaybackSave();  // starts timer 0
  virtual ~CKYTEPlaybackSave();
  CKYTEPlaybackSave(const CKYTEPlaybackSave&) = delete;
  CKYTEPlaybackSave& operator=(const CKYTEPlaybackSave&) = delete;

  char szFileName[256] = {};  // the data file name, at most 255 characters
  // The data file, open for appending; mdlTerminate closes it before it deletes the object.
  std::unique_ptr<playback::CTextFileStream> pOutFile;
  std::int32_t iNumSignals = 0;
  CElapsedTime Timer;
};
