// In-process MEX host.
#include "mexhost.h"

#include <dlfcn.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "mxhost.h"

namespace kyte::mexhost {
namespace {

template <typename T>
T ToInteger(double v) {
  if (std::isnan(v)) return 0;
  const double r = std::round(v);
  if (r <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  // The maximum of the 64-bit types is not a double; compare against 2^bits instead.
  if (r >= std::ldexp(1.0, std::numeric_limits<T>::digits)) return std::numeric_limits<T>::max();
  return static_cast<T>(r);
}

template <typename T>
void Store(void* data, std::size_t i, T v) {
  std::memcpy(static_cast<unsigned char*>(data) + i * sizeof v, &v, sizeof v);
}

void StoreAs(mxClassID classid, void* data, std::size_t i, double v) {
  switch (classid) {
    case mxDOUBLE_CLASS:
      return Store(data, i, v);
    case mxSINGLE_CLASS:
      return Store(data, i, static_cast<float>(v));
    case mxINT8_CLASS:
      return Store(data, i, ToInteger<std::int8_t>(v));
    case mxUINT8_CLASS:
      return Store(data, i, ToInteger<std::uint8_t>(v));
    case mxINT16_CLASS:
      return Store(data, i, ToInteger<std::int16_t>(v));
    case mxUINT16_CLASS:
      return Store(data, i, ToInteger<std::uint16_t>(v));
    case mxINT32_CLASS:
      return Store(data, i, ToInteger<std::int32_t>(v));
    case mxUINT32_CLASS:
      return Store(data, i, ToInteger<std::uint32_t>(v));
    case mxINT64_CLASS:
      return Store(data, i, ToInteger<std::int64_t>(v));
    case mxUINT64_CLASS:
      return Store(data, i, ToInteger<std::uint64_t>(v));
    default:
      return;
  }
}

ArrayPtr Make(mxArray* array) {
  if (array == nullptr) throw std::bad_alloc();
  return ArrayPtr(array);
}

void Fill(mxClassID classid, void* data, std::size_t count, std::span<const double> values) {
  if (data == nullptr) return;
  for (std::size_t i = 0; i < count && i < values.size(); ++i) StoreAs(classid, data, i, values[i]);
}

// Recursive-descent reader of the literal forms Parse accepts.
class LiteralParser {
 public:
  explicit LiteralParser(std::string_view text) : s_(text) {}

  ArrayPtr Run(std::string* error) {
    ArrayPtr result = Value();
    SkipBlanks();
    if (result && pos_ != s_.size()) Fail("unexpected text after the value");
    if (!result || !error_.empty()) {
      if (error != nullptr) *error = error_.empty() ? std::string("not a literal") : error_;
      return nullptr;
    }
    return result;
  }

 private:
  void Fail(const std::string& what) {
    if (error_.empty())
      error_ =
          what + " at position " + std::to_string(pos_ + 1) + " of \"" + std::string(s_) + "\"";
  }
  void SkipBlanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool Peek(char c) {
    SkipBlanks();
    return pos_ < s_.size() && s_[pos_] == c;
  }

  ArrayPtr Value() {
    SkipBlanks();
    if (pos_ >= s_.size()) {
      Fail("missing value");
      return nullptr;
    }
    const char c = s_[pos_];
    if (c == '\'') return Quoted();
    if (c == '[') return Brackets(mxDOUBLE_CLASS);
    if (std::isalpha(static_cast<unsigned char>(c))) {
      std::size_t end = pos_;
      while (end < s_.size() && std::isalnum(static_cast<unsigned char>(s_[end]))) ++end;
      const std::string_view word = s_.substr(pos_, end - pos_);
      const mxClassID classid = ClassNamed(word);
      if (classid != mxUNKNOWN_CLASS) {
        pos_ = end;
        if (!Peek('(')) {
          Fail("expected ( after the class name");
          return nullptr;
        }
        ++pos_;
        ArrayPtr inner = Peek('[') ? Brackets(classid) : Scalar(classid);
        if (inner && !Peek(')')) {
          Fail("expected )");
          return nullptr;
        }
        ++pos_;
        return inner;
      }
    }
    return Scalar(mxDOUBLE_CLASS);
  }

  static mxClassID ClassNamed(std::string_view word) {
    static const std::pair<const char*, mxClassID> kClasses[] = {
        {"double", mxDOUBLE_CLASS}, {"single", mxSINGLE_CLASS}, {"int8", mxINT8_CLASS},
        {"uint8", mxUINT8_CLASS},   {"int16", mxINT16_CLASS},   {"uint16", mxUINT16_CLASS},
        {"int32", mxINT32_CLASS},   {"uint32", mxUINT32_CLASS}, {"int64", mxINT64_CLASS},
        {"uint64", mxUINT64_CLASS}};
    for (const auto& [name, id] : kClasses)
      if (word == name) return id;
    return mxUNKNOWN_CLASS;
  }

  ArrayPtr Quoted() {
    ++pos_;
    std::string text;
    for (;;) {
      if (pos_ >= s_.size()) {
        Fail("unterminated text");
        return nullptr;
      }
      if (s_[pos_] == '\'') {
        if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
          text += '\'';
          pos_ += 2;
          continue;
        }
        ++pos_;
        return Char(text);
      }
      text += s_[pos_++];
    }
  }

  bool Number(double* value) {
    SkipBlanks();
    const std::size_t start = pos_;
    std::size_t end = pos_;
    // A number token runs up to a separator; strtod then has to take all of it.
    while (end < s_.size() && s_[end] != ' ' && s_[end] != '\t' && s_[end] != ',' &&
           s_[end] != ';' && s_[end] != ']' && s_[end] != ')')
      ++end;
    const std::string token(s_.substr(start, end - start));
    if (token.empty()) {
      Fail("expected a number");
      return false;
    }
    std::string_view body = token;
    const bool negative = body[0] == '-';
    if (body[0] == '-' || body[0] == '+') body.remove_prefix(1);
    if (body == "Inf" || body == "inf") {
      *value = negative ? -HUGE_VAL : HUGE_VAL;
    } else if (body == "NaN" || body == "nan") {
      *value = std::numeric_limits<double>::quiet_NaN();
    } else {
      // Decimal digits, point and exponent only: strtod would also take hexadecimal.
      char* stop = nullptr;
      const bool plain =
          !body.empty() && token.find_first_not_of("0123456789.eE+-") == std::string::npos;
      *value = plain ? std::strtod(token.c_str(), &stop) : 0.0;
      if (!plain || stop != token.c_str() + token.size()) {
        Fail("not a number: " + token);
        return false;
      }
    }
    pos_ = end;
    return true;
  }

  ArrayPtr Scalar(mxClassID classid) {
    double v = 0.0;
    if (!Number(&v)) return nullptr;
    const double values[] = {v};
    return Numeric(classid, 1, 1, values);
  }

  ArrayPtr Brackets(mxClassID classid) {
    ++pos_;
    std::vector<std::vector<double>> rows(1);
    for (;;) {
      SkipBlanks();
      if (pos_ >= s_.size()) {
        Fail("missing ]");
        return nullptr;
      }
      const char c = s_[pos_];
      if (c == ']') {
        ++pos_;
        break;
      }
      if (c == ';') {
        ++pos_;
        rows.emplace_back();
        continue;
      }
      if (c == ',') {
        ++pos_;
        continue;
      }
      double v = 0.0;
      if (!Number(&v)) return nullptr;
      rows.back().push_back(v);
    }
    // As in MATLAB, a row separator with nothing before it adds no row: [1 2;] is one row of
    // two, [1 2;;3 4] two rows, [;] empty.
    std::erase_if(rows, [](const std::vector<double>& row) { return row.empty(); });
    const std::size_t n = rows.empty() ? 0 : rows.front().size();
    for (const auto& row : rows) {
      if (row.size() != n) {
        Fail("rows of different lengths");
        return nullptr;
      }
    }
    const std::size_t m = n == 0 ? 0 : rows.size();
    std::vector<double> columnMajor(m * n);
    for (std::size_t i = 0; i < m; ++i)
      for (std::size_t j = 0; j < n; ++j) columnMajor[j * m + i] = rows[i][j];
    return Numeric(classid, m, n, columnMajor);
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

void ArrayDeleter::operator()(mxArray* array) const noexcept { mxDestroyArray(array); }

ArrayPtr Scalar(double value) { return Make(mxCreateDoubleScalar(value)); }

ArrayPtr Row(std::initializer_list<double> values) {
  return Row(std::span<const double>(values.begin(), values.size()));
}

ArrayPtr Row(std::span<const double> values) {
  return Matrix(values.empty() ? 0 : 1, values.size(), values);
}

ArrayPtr Matrix(std::size_t m, std::size_t n, std::span<const double> values) {
  return Numeric(mxDOUBLE_CLASS, m, n, values);
}

ArrayPtr Complex(std::size_t m, std::size_t n, std::span<const double> real,
                 std::span<const double> imag) {
  ArrayPtr a = Make(mxCreateDoubleMatrix(m, n, mxCOMPLEX));
  Fill(mxDOUBLE_CLASS, mxGetData(a.get()), m * n, real);
  Fill(mxDOUBLE_CLASS, mxGetImagData(a.get()), m * n, imag);
  return a;
}

ArrayPtr Numeric(mxClassID classid, std::size_t m, std::size_t n, std::span<const double> values) {
  ArrayPtr a = Make(mxCreateNumericMatrix(m, n, classid, mxREAL));
  Fill(classid, mxGetData(a.get()), m * n, values);
  return a;
}

ArrayPtr Char(std::string_view text) { return Make(mxCreateString(std::string(text).c_str())); }

ArrayPtr Empty(std::size_t m, std::size_t n, mxClassID classid) {
  if (classid == mxCHAR_CLASS) {
    if (m * n != 0) throw std::invalid_argument("Empty: a char array of that size is not empty");
    return Char("");
  }
  if (m * n != 0) throw std::invalid_argument("Empty: m or n must be 0");
  return Numeric(classid, m, n);
}

ArrayPtr Parse(std::string_view literal, std::string* error) {
  return LiteralParser(literal).Run(error);
}

std::vector<double> Values(const mxArray* array) {
  std::vector<double> values(mxGetNumberOfElements(array));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = mx::ElementValue(array, i);
  return values;
}

std::vector<double> ImagValues(const mxArray* array) {
  if (!mxIsComplex(array)) return {};
  std::vector<double> values(mxGetNumberOfElements(array));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = mx::ElementValue(array, i, true);
  return values;
}

std::string Text(const mxArray* array) {
  if (!mxIsChar(array)) return {};
  std::string text;
  for (double c : Values(array)) text += static_cast<char>(static_cast<unsigned>(c));
  return text;
}

MexLibrary::MexLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (why ? why : "unknown error"));
  }
  entry_ = reinterpret_cast<Entry>(dlsym(handle_, "mexFunction"));
  if (entry_ == nullptr) {
    dlclose(handle_);
    throw std::runtime_error(path + " exports no mexFunction");
  }
}

MexLibrary::~MexLibrary() { dlclose(handle_); }

void* MexLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

CallResult MexLibrary::Call(int nlhs, std::initializer_list<const mxArray*> inputs) {
  return Call(nlhs, std::span<const mxArray* const>(inputs.begin(), inputs.size()));
}

CallResult MexLibrary::Call(int nlhs, std::span<const mxArray* const> inputs) {
  CallResult result;
  std::vector<mxArray*> plhs(static_cast<std::size_t>(nlhs > 1 ? nlhs : 1), nullptr);
  std::vector<const mxArray*> prhs(inputs.begin(), inputs.end());
  mx::CallScope scope;
  try {
    mx::CallScope::Activation active(scope);
    entry_(nlhs, plhs.data(), static_cast<int>(prhs.size()), prhs.data());
    result.ok = true;
  } catch (const mx::MexError& e) {
    result.error = e.what();
  } catch (const std::exception& e) {
    result.error = std::string("unhandled exception in mexFunction: ") + e.what();
  } catch (...) {
    result.error = "unhandled exception in mexFunction";
  }
  if (result.ok) {
    for (mxArray* out : plhs) {
      if (out == nullptr) {
        result.outputs.emplace_back();
      } else if (scope.Release(out)) {
        result.outputs.emplace_back(out);
      } else {
        // Not made during this call (an input handed back, say): the caller gets a copy.
        result.outputs.emplace_back(mxDuplicateArray(out));
      }
    }
  }
  return result;  // the scope frees the rest
}

}  // namespace kyte::mexhost
