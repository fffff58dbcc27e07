// The loaded form as text, one property a line ("name.Property = value"), in the order the form
// definition makes the components: what a baseline file stores and a test compares, so that a
// change of the form shows as a diff of that file.
#pragma once

#include <string>

class TCustomForm;

std::string DescribeForm(const TCustomForm& form);

// Compares `actual` with the baseline file at `path`: "" when they agree, else the lines that
// differ. With KX_UPDATE_BASELINES=1 in the environment the file is rewritten instead.
std::string CompareWithBaseline(const std::string& path, const std::string& actual);
