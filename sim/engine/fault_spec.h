#pragma once

// Faults written as text, as the qxsim program's --fault option takes them:
//
//   TARGET:ITEM[,ITEM...]
//
// Command targets: identify, firmware, query, enter, all. Items:
//   silent  replace=HEX  pad=N  no-nul  insert=HEX  at=N  delay=MS  byte-delay=MS
//   disconnect=N  count=N
// Network targets: udp.ready, udp.bypass, udp.device, udp.identity, udp.basic,
// udp.extended, udp.search, udp.all. Items:
//   silent  replace=HEX  result=HEX  data=HEX  pad=N  length=N  before=HEX  after=HEX
//   split=N[/N...]  delay=MS  count=N
// HEX is pairs of hex digits ("37200D", may be empty). Examples:
//   firmware:delay=2500          identify:insert=13,at=3       udp.ready:data=01
//   udp.identity:split=7/20      udp.search:pad=600,split=512  all:silent,count=1

#include <optional>
#include <string>
#include <string_view>

#include "sim/engine/printer_engine.h"
#include "sim/engine/zemak_responder.h"

namespace qx::sim {

struct FaultSpec {
  bool Network = false;               // a network fault (udp.*) rather than a command fault
  std::optional<Command> ForCommand;  // command faults: none = all
  std::optional<ZemakRequest> ForRequest;  // network faults: none = all
  ReplyFault Reply;
  DatagramFault Datagram;
};

// False with the reason in `error` for text that is not a fault.
bool ParseFaultSpec(std::string_view text, FaultSpec& spec, std::string& error);
// Sets the fault on the printer or on the network interface (either may be absent).
void ApplyFaultSpec(const FaultSpec& spec, PrinterEngine* printer, ZemakResponder* zemak);

// Pairs of hex digits to bytes; false for anything else.
bool ParseHexBytes(std::string_view text, Bytes& bytes);

}  // namespace qx::sim
