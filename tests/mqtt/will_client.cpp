// A client that dies without a goodbye, for the test of the last will: connects with a will
// on TOPIC, prints "connected" and ends at once, leaving the link to the kernel to close.
//
//   qvlink_mqtt_will_client URL TOPIC

#include <unistd.h>

#include <cstdio>
#include <future>

#include "mqtt/mqtt_link.h"

int main(int argc, char* argv[]) {
    using namespace qvlink;
    if (argc != 3) {
        std::fputs("usage: qvlink_mqtt_will_client URL TOPIC\n", stderr);
        return 2;
    }
    MqttEndpoint endpoint;
    endpoint.url = std::get<MqttUrl>(parseMqttUrl(argv[1]));
    MqttLinkSettings settings;
    settings.will = MqttWill{argv[2], "offline", 1, true};
    std::promise<void> connected;
    MqttLinkCallbacks callbacks;
    callbacks.onConnection = [&connected](bool up, const std::string&) {
        if (up) {
            connected.set_value();
        }
    };
    MqttLink link(endpoint, settings, std::move(callbacks));
    link.start();
    if (connected.get_future().wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        return 1;
    }
    std::puts("connected");
    std::fflush(stdout);
    ::_exit(0);
}
