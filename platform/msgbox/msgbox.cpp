#include "msgbox.h"

#include <cstddef>
#include <mutex>

#include "msgbox_test_hook.h"

namespace {

// Texts beyond this are dropped oldest first, so that a run that fails every frame stays small.
constexpr std::size_t kKeptTexts = 256;

struct State {
  std::mutex lock;
  std::vector<std::string> texts;
  std::uint64_t shown = 0;
};

State& state() {
  static State s;
  return s;
}

}  // namespace

int AfxMessageBox(const char* text, unsigned /*type*/, unsigned /*helpContext*/) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.texts.size() >= kKeptTexts) s.texts.erase(s.texts.begin());
  s.texts.emplace_back(text != nullptr ? text : "");
  ++s.shown;
  return IDOK;
}

namespace msgbox_test {
std::vector<std::string> TakeMessageBoxTexts() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  std::vector<std::string> texts;
  texts.swap(s.texts);
  return texts;
}
std::uint64_t MessageBoxesShown() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.shown;
}
}  // namespace msgbox_test
