// kyte_mx: the matrix and MEX API for the toolkit's own hosts.
#include "matrix.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "mex.h"
#include "mxhost.h"

struct mxArray_tag {
  mxClassID classid = mxDOUBLE_CLASS;
  std::size_t m = 0;
  std::size_t n = 0;
  bool complex = false;
  std::vector<unsigned char> real;  // m * n elements of the class, column by column
  std::vector<unsigned char> imag;  // as real, for complex arrays
};

namespace kyte::mx {
namespace {

// Which scope owns each array and block of memory made while a scope was active.
struct Registry {
  std::mutex mutex;
  struct Entry {
    CallScope* scope;
    bool array;  // an mxArray, else mxCalloc memory
  };
  std::unordered_map<const void*, Entry> owner;
};
Registry& registry() {
  static Registry* r = new Registry;  // outlives every static destructor that may free arrays
  return *r;
}
thread_local CallScope* active = nullptr;

void Track(void* p, bool array) {
  if (active == nullptr || p == nullptr) return;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.owner[p] = {active, array};
}

void Untrack(const void* p) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.owner.erase(p);
}

std::size_t ElementSize(mxClassID classid) {
  switch (classid) {
    case mxLOGICAL_CLASS:
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
      return 1;
    case mxCHAR_CLASS:
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
      return 2;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
      return 4;
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS:
      return 8;
    default:
      return 0;
  }
}

bool IsNumericClass(mxClassID classid) {
  return classid >= mxDOUBLE_CLASS && classid <= mxUINT64_CLASS;
}

template <typename T>
double Read(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<double>(v);
}

mxArray* Create(std::size_t m, std::size_t n, mxClassID classid, bool complex) {
  const std::size_t size = ElementSize(classid);
  if (size == 0) return nullptr;
  if (n != 0 && m > SIZE_MAX / n / size) return nullptr;
  auto* a = new (std::nothrow) mxArray;
  if (a == nullptr) return nullptr;
  try {
    a->classid = classid;
    a->m = m;
    a->n = n;
    a->complex = complex;
    a->real.assign(m * n * size, 0);
    if (complex) a->imag.assign(m * n * size, 0);
  } catch (const std::bad_alloc&) {
    delete a;
    return nullptr;
  }
  Track(a, true);
  return a;
}

}  // namespace

CallScope::~CallScope() { FreeAll(); }

bool CallScope::Release(const mxArray* array) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.owner.find(array);
  if (it == r.owner.end() || it->second.scope != this) return false;
  r.owner.erase(it);
  return true;
}

void CallScope::FreeAll() {
  std::vector<std::pair<const void*, bool>> mine;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.owner.begin(); it != r.owner.end();) {
      if (it->second.scope == this) {
        mine.emplace_back(it->first, it->second.array);
        it = r.owner.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto [p, array] : mine) {
    if (array)
      delete static_cast<const mxArray*>(p);
    else
      std::free(const_cast<void*>(p));
  }
}

CallScope::Activation::Activation(CallScope& scope) : previous_(active) { active = &scope; }
CallScope::Activation::~Activation() { active = previous_; }

double ElementValue(const mxArray* array, std::size_t i, bool imaginary) {
  if (array == nullptr || i >= array->m * array->n) return 0.0;
  if (imaginary && !array->complex) return 0.0;
  const std::vector<unsigned char>& data = imaginary ? array->imag : array->real;
  const unsigned char* p = data.data() + i * ElementSize(array->classid);
  switch (array->classid) {
    case mxDOUBLE_CLASS:
      return Read<double>(p);
    case mxSINGLE_CLASS:
      return Read<float>(p);
    case mxLOGICAL_CLASS:
    case mxUINT8_CLASS:
      return Read<std::uint8_t>(p);
    case mxINT8_CLASS:
      return Read<std::int8_t>(p);
    case mxCHAR_CLASS:
    case mxUINT16_CLASS:
      return Read<std::uint16_t>(p);
    case mxINT16_CLASS:
      return Read<std::int16_t>(p);
    case mxINT32_CLASS:
      return Read<std::int32_t>(p);
    case mxUINT32_CLASS:
      return Read<std::uint32_t>(p);
    case mxINT64_CLASS:
      return Read<std::int64_t>(p);
    case mxUINT64_CLASS:
      return Read<std::uint64_t>(p);
    default:
      return 0.0;
  }
}

}  // namespace kyte::mx

using kyte::mx::Create;
using kyte::mx::ElementSize;

extern "C" {

mxArray* mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity complexity) {
  return Create(m, n, mxDOUBLE_CLASS, complexity == mxCOMPLEX);
}

mxArray* mxCreateNumericMatrix_730(size_t m, size_t n, mxClassID classid, mxComplexity complexity) {
  if (!kyte::mx::IsNumericClass(classid)) return nullptr;
  return Create(m, n, classid, complexity == mxCOMPLEX);
}

mxArray* mxCreateDoubleScalar(double value) {
  mxArray* a = Create(1, 1, mxDOUBLE_CLASS, false);
  if (a != nullptr) std::memcpy(a->real.data(), &value, sizeof value);
  return a;
}

mxArray* mxCreateString(const char* text) {
  const std::size_t length = text == nullptr ? 0 : std::strlen(text);
  mxArray* a = Create(length == 0 ? 0 : 1, length, mxCHAR_CLASS, false);
  if (a == nullptr) return nullptr;
  for (std::size_t i = 0; i < length; ++i) {
    const mxChar c = static_cast<unsigned char>(text[i]);
    std::memcpy(a->real.data() + i * sizeof c, &c, sizeof c);
  }
  return a;
}

mxArray* mxDuplicateArray(const mxArray* array) {
  if (array == nullptr) return nullptr;
  mxArray* a = Create(array->m, array->n, array->classid, array->complex);
  if (a == nullptr) return nullptr;
  a->real = array->real;
  a->imag = array->imag;
  return a;
}

void mxDestroyArray(mxArray* array) {
  if (array == nullptr) return;
  kyte::mx::Untrack(array);
  delete array;
}

void* mxCalloc(size_t n, size_t size) {
  void* p = std::calloc(n == 0 ? 1 : n, size == 0 ? 1 : size);
  kyte::mx::Track(p, false);
  return p;
}

void* mxMalloc(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  kyte::mx::Track(p, false);
  return p;
}

void mxFree(void* ptr) {
  if (ptr == nullptr) return;
  kyte::mx::Untrack(ptr);
  std::free(ptr);
}

size_t mxGetM(const mxArray* array) { return array == nullptr ? 0 : array->m; }
size_t mxGetN(const mxArray* array) { return array == nullptr ? 0 : array->n; }
size_t mxGetNumberOfElements(const mxArray* array) {
  return array == nullptr ? 0 : array->m * array->n;
}
size_t mxGetElementSize(const mxArray* array) {
  return array == nullptr ? 0 : ElementSize(array->classid);
}
mxClassID mxGetClassID(const mxArray* array) {
  return array == nullptr ? mxUNKNOWN_CLASS : array->classid;
}
bool mxIsNumeric(const mxArray* array) {
  return array != nullptr && kyte::mx::IsNumericClass(array->classid);
}
bool mxIsDouble(const mxArray* array) {
  return array != nullptr && array->classid == mxDOUBLE_CLASS;
}
bool mxIsEmpty(const mxArray* array) { return mxGetNumberOfElements(array) == 0; }
bool mxIsComplex(const mxArray* array) { return array != nullptr && array->complex; }
bool mxIsChar(const mxArray* array) { return array != nullptr && array->classid == mxCHAR_CLASS; }
bool mxIsSparse(const mxArray*) { return false; }

double* mxGetPr(const mxArray* array) {
  if (!mxIsDouble(array) || mxIsEmpty(array)) return nullptr;
  return reinterpret_cast<double*>(const_cast<unsigned char*>(array->real.data()));
}

double* mxGetPi(const mxArray* array) {
  if (!mxIsDouble(array) || mxIsEmpty(array) || !array->complex) return nullptr;
  return reinterpret_cast<double*>(const_cast<unsigned char*>(array->imag.data()));
}

void* mxGetData(const mxArray* array) {
  if (array == nullptr || array->real.empty()) return nullptr;
  return const_cast<unsigned char*>(array->real.data());
}

void* mxGetImagData(const mxArray* array) {
  if (array == nullptr || array->imag.empty()) return nullptr;
  return const_cast<unsigned char*>(array->imag.data());
}

double mxGetScalar(const mxArray* array) { return kyte::mx::ElementValue(array, 0); }

int mxGetString_730(const mxArray* array, char* buf, size_t buflen) {
  if (buf == nullptr || buflen == 0) return 1;
  if (!mxIsChar(array)) {
    buf[0] = '\0';
    return 1;
  }
  const std::size_t count = mxGetNumberOfElements(array);
  const std::size_t copied = count < buflen ? count : buflen - 1;
  for (std::size_t i = 0; i < copied; ++i) {
    mxChar c;
    std::memcpy(&c, array->real.data() + i * sizeof c, sizeof c);
    buf[i] = static_cast<char>(c);
  }
  buf[copied] = '\0';
  return copied == count ? 0 : 1;
}

void mexErrMsgTxt(const char* message) {
  throw kyte::mx::MexError(message == nullptr ? "" : message);
}

}  // extern "C"
