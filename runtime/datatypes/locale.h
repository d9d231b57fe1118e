// system/locale (month names, the currency list) and system/options/money-digits: their
// start-up values and the reads date! and money! make of them.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::locale {

// Adds locale/months, locale/currencies/list and options/money-digits to `system`, keeping
// any field that is already there (a builder of `system`, registered by money!).
void add_system_fields();

// The 1-based position of a currency code (any case) in system/locale/currencies/list, or
// -1 when it is not there (or lies past 255).
int32_t currency_index(const uint8_t* code, int32_t length);
// The code word at a position of the list; false when there is none.
bool currency_word(int32_t index, Cell* out);
// The code's spelling ("" when the position names nothing).
std::string currency_code(int32_t index);
// system/options/money-digits when it is an integer, else 2.
int32_t money_digits();
// The first three characters of system/locale/months item month (1-12) into out, their
// count returned; raises script/invalid-months when the item is missing or not a string.
int32_t month_abbreviation(int32_t month, int32_t out[3]);

}  // namespace kel::locale
