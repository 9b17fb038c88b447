#pragma once
// The latest value of a fund with its period changes and return statistics
// (defined with its wire record).
#include "market/FundValue.h"
#include "wire/ValueRecords.h"
