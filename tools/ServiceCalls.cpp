#include "tools/ServiceCalls.h"

#include "sim/consumers/AcpiProcessorObjects.h"
#include "sim/consumers/AffinityTableBuilder.h"
#include "sim/consumers/CpcSsdtBuilder.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/consumers/SratBuilder.h"

namespace ccxsim {
namespace {

const ServiceCall kCalls[] = {
    {kServiceAcpiProcessors, [](sim::Platform &Machine) { (void)sim::BuildAcpiProcessorObjects(Machine); }},
    {kServicePcct, [](sim::Platform &Machine) { (void)sim::BuildPcct(Machine); }},
    {kServiceHest, [](sim::Platform &Machine) { (void)sim::BuildHest(Machine); }},
    {kServiceSmbios, [](sim::Platform &Machine) { (void)sim::BuildSmbios(Machine); }},
    {kServiceSrat, [](sim::Platform &Machine) { (void)sim::BuildSrat(Machine); }},
    {kServiceAffinity, [](sim::Platform &Machine) { (void)sim::BuildAffinityTable(Machine); }},
    {kServiceCppc, [](sim::Platform &Machine) { (void)sim::BuildCpcSsdt(Machine); }},
};

}  // namespace

const ServiceCall *ServiceCalls(size_t &Count) {
  Count = sizeof(kCalls) / sizeof(kCalls[0]);
  return kCalls;
}

}  // namespace ccxsim
