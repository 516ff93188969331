// A progress id names one upload's record for every process of the machine:
// 1-64 letters, digits and '-', so that it stands in an object name as it
// is and no id can reach another namespace or another object's name.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr std::size_t kcchMaxProgressId = 64;

bool ProgressIdValid(const char16_t* pchId, std::size_t cchId);

// "Local\VARO.Progress.<id>" with the id in lower case: whether the system
// compares object names without case is a setting, so ids never differ by
// case alone. False, and an empty name, for an id that is not valid.
constexpr std::size_t kcchProgressSectionName = 20 + kcchMaxProgressId + 1;
bool ProgressSectionName(const char16_t* pchId, std::size_t cchId, char16_t (&szName)[kcchProgressSectionName]);
