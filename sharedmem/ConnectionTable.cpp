#include "ConnectionTable.h"

#include <vector>

#include "DataTransfer.h"

namespace {

// Created empty at load; at unload only the vector's storage goes, the channels still in it are
// left alone (their handles go with the process).
std::vector<CDataTransfer*>& ConnectionTable() {
  static std::vector<CDataTransfer*> table;
  return table;
}

CDataTransfer* Channel(std::int32_t index) {
  std::vector<CDataTransfer*>& table = ConnectionTable();
  if (static_cast<std::uint32_t>(index) >= table.size()) return nullptr;
  return table[static_cast<std::uint32_t>(index)];
}

double* Element(std::int32_t index, std::int32_t element) {
  CDataTransfer* channel = Channel(index);
  if (channel == nullptr) return nullptr;
  std::vector<double>& data = channel->Data();
  if (static_cast<std::uint32_t>(element) >= data.size()) return nullptr;
  return &data[static_cast<std::uint32_t>(element)];
}

}  // namespace

std::int32_t OpenConnection(std::int32_t id, std::int32_t count) {
  auto* channel = new CDataTransfer(count, id);
  if (!channel->HasView()) {
    delete channel;
    return -1;
  }
  std::vector<CDataTransfer*>& table = ConnectionTable();
  table.push_back(channel);
  return static_cast<std::int32_t>(table.size()) - 1;
}

void CloseAllConnections() {
  std::vector<CDataTransfer*>& table = ConnectionTable();
  for (CDataTransfer* channel : table) delete channel;
  table.clear();
}

void ReadConnection(std::int32_t index) {
  if (CDataTransfer* channel = Channel(index)) channel->Read();
}

void WriteConnection(std::int32_t index) {
  if (CDataTransfer* channel = Channel(index)) channel->Write();
}

void SetConnectionValue(std::int32_t index, std::int32_t element, double value) {
  if (double* slot = Element(index, element)) *slot = value;
}

double GetConnectionValue(std::int32_t index, std::int32_t element) {
  double* slot = Element(index, element);
  return slot != nullptr ? *slot : -1.0;
}
