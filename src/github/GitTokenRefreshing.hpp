#pragma once
// GitTokenRefreshing: keeps an expiring GitHub token alive on a 60-second schedule.
//
// `stop` cancels the schedule when it runs and does nothing otherwise; callable on the main thread.
// The refresher holds its delegate weakly. Exists only when OAuth settings were found.
#include <memory>

#include "github/GitTokenRefresherDelegate.hpp"

namespace pelko {

class GitTokenRefreshing {
  public:
    virtual ~GitTokenRefreshing() = default;
    virtual void setDelegate(std::weak_ptr<GitTokenRefresherDelegate> delegate) = 0;
    virtual void stop() = 0;
};

}  // namespace pelko
