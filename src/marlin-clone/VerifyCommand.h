#pragma once

// --verify: checks every chunk an image uses the way a restore would, without a target.

#include <string>

class VerifyCommand
{
public:
    // 0 intact; 1 invalid, damaged or a store chunk missing.
    static int run(const std::string& imagePath, const std::string& storeOverride);
};
