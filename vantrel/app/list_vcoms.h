// The COM-port listing with the link check of every virtual port.
#pragma once

namespace vantrel::app {

void ListVcoms(bool print, bool prompt);

}  // namespace vantrel::app
