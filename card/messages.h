// The texts the read command shows on the message line.
#pragma once

#include <string_view>

namespace card {

inline constexpr std::string_view kMessageNoCard = "ゆるかのをパソリにおいてください。";
inline constexpr std::string_view kMessageReadError = "読み込みエラーです。";
inline constexpr std::string_view kMessageNoReader = "パソリを接続してください。";

}  // namespace card
