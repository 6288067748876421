#pragma once
// What a container hands down to the pages it holds: the insets its bars cover. A
// navigation stack calls it on each page with its header's height on top.
//
//   page->viewShouldAdjustInsets({64, 0, 49, 0}, false);
//
// Main thread only.

#include "platform/foundation/Geometry.h"

class MVViewHierarchyDelegate {
  public:
    virtual ~MVViewHierarchyDelegate() = default;
    virtual void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) = 0;
};
