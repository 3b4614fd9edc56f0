#include "console/held_output.h"


void HeldOutput::AppendAttribute(ConsoleAttribute attribute) {
  held_ += style_.Select(attribute);
  if (attribute != kDefaultAttribute) holdsColour_ = true;
}

void HeldOutput::SetAttribute(ConsoleAttribute attribute) {
  if (attribute == attribute_) return;
  attribute_ = attribute;
  AppendAttribute(attribute);
}

void HeldOutput::DropForClear() {
  held_.clear();
  holdsColour_ = false;
  if (attribute_ != shown_) AppendAttribute(attribute_);
}

bool HeldOutput::ColoursMayBeSetDuringPass() const {
  return holdsColour_ || shown_ != kDefaultAttribute;
}

bool HeldOutput::ColoursMayBeSetAfterPass() const { return attribute_ != kDefaultAttribute; }

void HeldOutput::Passed(Clock::time_point now) {
  held_.clear();
  holdsColour_ = false;
  shown_ = attribute_;
  lastPass_ = now;
}

void HeldOutput::ColoursWereReset() {
  if (shown_ == kDefaultAttribute) return;
  held_.insert(0, style_.Select(shown_));
  holdsColour_ = true;
  shown_ = kDefaultAttribute;
}
