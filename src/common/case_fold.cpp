#include <algorithm>
#include <iterator>

#include "common/text.h"

namespace zrk {

namespace {

struct CaseFold {
  char32_t from;
  char32_t to;
};

constexpr CaseFold kSimpleCaseFolds[] = {
#include "case_fold_table.inc"
};

}  // namespace

char32_t fold_case(char32_t code_point) {
  if (code_point < 0x80) {
    return code_point >= 'A' && code_point <= 'Z' ? code_point + ('a' - 'A') : code_point;
  }
  const auto* found =
      std::lower_bound(std::begin(kSimpleCaseFolds), std::end(kSimpleCaseFolds), code_point,
                       [](const CaseFold& fold, char32_t wanted) { return fold.from < wanted; });
  return found != std::end(kSimpleCaseFolds) && found->from == code_point ? found->to : code_point;
}

}  // namespace zrk
