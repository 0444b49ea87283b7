#pragma once

#include "search/feature_vector.h"

namespace weftloom {

// One point of a data cloud: the neighbourhood vector of a sample pixel and
// that pixel's own channel values. The point owns copies of both.
struct CloudPoint {
    FeatureVector features;
    FeatureVector pixel;
};

}  // namespace weftloom
