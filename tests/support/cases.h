// Names the cases of a parameterised test by their `name` member, in listings and in failures.
#pragma once

#include <gtest/gtest.h>

#include <string>

struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case> &info) const {
        return info.param.name;
    }
};
