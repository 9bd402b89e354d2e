#include "passbuffer.h"

#include <algorithm>

#include "progress.h"
#include "tileformat.h"

uint8_t* PassBuffer::Get(const char* module) {
  thread_local TileBuffer slots[kSlots];
  TileBuffer& buffer = slots[slot_];
  if (!buffer || buffer.size() < size_) {
    buffer = TileBuffer();
    buffer = TileBuffer::Allocate(module, std::max(size_, kSlotBytes));
  }
  return buffer.data();
}

uint8_t* PassBuffer::Read(const char* module, TileFile& file) {
  uint8_t* data = Get(module);
  if (data == nullptr || !file.ReadWhole(module, data, size_)) return nullptr;
  return data;
}

uint8_t* PassBuffer::ReadRegionRows(const char* module, TileFile& file, int ys, int ye) {
  uint8_t* data = Get(module);
  if (data == nullptr || !file.ReadAt(module, data, kHeaderBytes, 0)) return nullptr;
  if (ys <= ye) {
    const uint64_t band_bytes = uint64_t{kBlocksPerSide} * kBlockBytes;
    const uint64_t offset = kHeaderBytes + uint64_t(ys >> kBlockShift) * band_bytes;
    const uint64_t size = uint64_t((ye >> kBlockShift) - (ys >> kBlockShift) + 1) * band_bytes;
    if (!file.ReadAt(module, data + offset, size, offset)) return nullptr;
  }
  return data;
}

bool TileUpdate::Open(const char* module, const std::string& name, PassBuffer& buffer,
                      uint32_t kind) {
  file = TileFile::OpenOutput(module, name);
  if (!file.is_open()) return false;
  data = buffer.Read(module, file);
  if (data == nullptr) return false;
  size = buffer.size();
  SetIdentification(data, kind);
  return true;
}

int TileUpdate::Finish(const char* module) {
  PrintTileLine();
  if (!file.WriteWhole(module, data, size)) return -1;
  return file.Close(module);
}
