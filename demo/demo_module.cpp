#include "demo_module.h"

#include "Datas.h"

std::unique_ptr<sim::CiModule> MakeDemoModule(platform::Clock& clock,
                                              const sim::ModuleTiming& pace) {
  auto module = std::make_unique<sim::CiModule>(
      clock, sim::ModuleImage::FromUpdate(InitData, InitDataLength, InitDataSize, MainData,
                                          MainDataLength, MainDataSize));
  module->SetTiming(pace);
  return module;
}
