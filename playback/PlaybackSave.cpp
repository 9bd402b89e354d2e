#include "PlaybackSave.h"

CKYTEPlaybackSave::CKYTEPlaybackSave() { Timer.StartTimer(); }

CKYTEPlaybackSave::~CKYTEPlaybackSave() = default;
