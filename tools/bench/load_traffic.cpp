#include "load_traffic.h"

#include "simulation.h"

namespace qvlink::bench {

std::vector<Datagram> simulatorLoadTraffic(int devices, int count) {
    sim::SimConfig config;
    config.deviceCount = devices;
    config.rate = 1;
    sim::Simulation simulation(config, systemLocalTime, [](const std::string&) {});
    std::vector<Datagram> traffic;
    const auto keep = [&](std::size_t device, std::span<const std::uint8_t> bytes) {
        traffic.push_back({{bytes.begin(), bytes.end()}, simulation.device(device).ip});
    };
    for (std::size_t turn = 0; traffic.size() < static_cast<std::size_t>(count); ++turn) {
        simulation.emitLoad(turn % static_cast<std::size_t>(devices), 64, keep);
    }
    traffic.resize(static_cast<std::size_t>(count));
    return traffic;
}

}  // namespace qvlink::bench
