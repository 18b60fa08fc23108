// The doctor, Dunvelt-doctor.exe, run against sample installs with one fault each.
#pragma once

#include <vector>

#include "wine_test.h"

std::vector<winetest::Case> DoctorCases();
