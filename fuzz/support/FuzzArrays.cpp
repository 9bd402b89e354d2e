#include "FuzzArrays.h"

#include <string>

namespace kyte::fuzz {
namespace {

constexpr int kMostRows = 3;
constexpr int kMostColumns = 20;  // a state vector is 16 long: one past it and more

std::vector<double> TakeValues(FuzzInput& in, std::size_t count) {
  std::vector<double> values(count);
  for (double& value : values) value = TakeValue(in);
  return values;
}

}  // namespace

double TakeValue(FuzzInput& in) {
  const std::uint8_t tag = in.Byte();
  if (tag & 0x80) return in.Take<double>();
  return static_cast<double>(tag) - 16.0;  // -16 .. 111
}

mexhost::ArrayPtr TakeArray(FuzzInput& in) {
  const std::uint8_t kind = in.Byte();
  const std::size_t m = in.Below(kMostRows + 1);
  const std::size_t n = in.Below(kMostColumns + 1);
  mexhost::ArrayPtr array;
  switch (kind % 8) {
    case 0:
    case 1:
      array = mexhost::Matrix(m, n, TakeValues(in, m * n));
      break;
    case 2:
      array = mexhost::Char(in.Text());
      break;
    case 3: {
      std::string error;
      array = mexhost::Parse(in.Text(), &error);
      break;
    }
    case 4: {
      const std::vector<double> real = TakeValues(in, m * n);
      array = mexhost::Complex(m, n, real, TakeValues(in, m * n));
      break;
    }
    case 5:
      array = mexhost::Numeric(mxINT32_CLASS, m, n, TakeValues(in, m * n));
      break;
    case 6:
      array = mexhost::Numeric(mxSINGLE_CLASS, m, n, TakeValues(in, m * n));
      break;
    default:
      // 0 x n or m x 0, of a class that is not double.
      array = mexhost::Empty(kind & 0x20 ? m : 0, kind & 0x20 ? 0 : n,
                             kind & 0x10 ? mxCHAR_CLASS : mxUINT8_CLASS);
      break;
  }
  if (!array) array = mexhost::Empty();
  return array;
}

std::vector<mexhost::ArrayPtr> TakeArrays(FuzzInput& in, int most) {
  std::vector<mexhost::ArrayPtr> arrays(in.Below(static_cast<std::uint32_t>(most) + 1));
  for (auto& array : arrays) array = TakeArray(in);
  return arrays;
}

}  // namespace kyte::fuzz
