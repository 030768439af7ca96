#include "statistics_json.h"

#include <cstdint>

#include "device_details.h"
#include "json.h"

namespace beamctl {
namespace {

std::string portJson(char letter, const NettlebeamApiPortStatistics& port) {
    JsonObject json;
    json.add("port", std::string(1, letter))
        .add("lessThan64", port.lessThan64)
        .add("from64To1518", port.from64To1518)
        .add("moreThan1518", port.moreThan1518)
        .add("collisions", port.collisions)
        .add("crcErrors", port.crcErrors)
        .add("jabbers", port.jabbers)
        .add("totalBytes", port.totalBytes)
        .add("totalValidPackets", port.totalValidPackets)
        .add("totalInvalidPackets", port.totalInvalidPackets)
        .add("hwDropped", port.hwDropped);
    return json.text();
}

void addDefinition(JsonObject& json, const std::vector<std::string>& definitions, std::size_t i) {
    if (i < definitions.size()) {
        json.add("definition", definitions[i]);
    } else {
        json.addNull("definition");
    }
}

JsonObject header(const NettlebeamApiStatistics& statistics) {
    JsonObject json;
    json.add("version", static_cast<int>(statistics.version))
        .add("timestamp", statistics.timestamp)
        .add("swDropped", statistics.swDropped);
    return json;
}

}  // namespace

std::string captureJson(const NettlebeamApiDiskDumpStatus& status) {
    JsonObject json;
    json.add("enabled", status.enabled != 0)
        .add("error", status.error != 0)
        .add("errorCode", static_cast<int>(status.error))
        .add("cacheUsed", status.cacheUsed)
        .add("maxCache", status.maxCache)
        .add("bytesWritten", status.bytesWritten)
        .add("bytesDropped", status.bytesDropped)
        .add("filesWritten", status.filesWritten);
    return json.text();
}

std::string statisticsJson(const NettlebeamApiStatistics& statistics,
                           const std::vector<std::string>& definitions,
                           const NettlebeamApiDiskDumpStatus* capture) {
    JsonObject json = header(statistics);
    if (statistics.version == 1) {
        const NettlebeamApiStatisticsV1& v1 = statistics.data.v1;
        json.add("linkUpMs", v1.linkUpTime).add("linkDownMs", v1.linkDownTime);
        json.addRaw("ports", jsonArray({portJson('A', v1.portA), portJson('B', v1.portB)}));
    } else {
        std::vector<std::string> counters;
        for (std::size_t i = 0; i < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++i) {
            JsonObject counter;
            counter.add("counter", static_cast<int>(i + 1))
                .add("value", statistics.data.v2.counters[i]);
            addDefinition(counter, definitions, i);
            counters.push_back(counter.text());
        }
        json.addRaw("counters", jsonArray(counters));
    }
    if (capture != nullptr) {
        json.addRaw("capture", captureJson(*capture));
    } else {
        json.addNull("capture");
    }
    return json.text();
}

std::string portRatesJson(const NettlebeamApiStatistics& after, double seconds,
                          const std::vector<PortRates>& rates,
                          const std::vector<std::optional<NettlebeamApiPortLink>>& links) {
    JsonObject json = header(after);
    json.add("interval", seconds);
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < rates.size(); ++i) {
        JsonObject port;
        port.add("port", std::string(1, rates[i].port))
            .add("framesPerSecond", rates[i].framesPerSecond)
            .add("mbitPerSecond", rates[i].megabitsPerSecond)
            .add("errorsPerSecond", rates[i].errorsPerSecond)
            .add("dropsPerSecond", rates[i].dropsPerSecond);
        const auto link = i < links.size() ? links[i] : std::nullopt;
        if (link) {
            port.add("link", link->speed != NETTLEBEAM_LINK_SPEED_NO_LINK);
            const std::optional<std::uint32_t> megabits = linkMegabits(link->speed);
            megabits ? port.add("speedMbps", static_cast<std::uint64_t>(*megabits))
                     : port.addNull("speedMbps");
            port.add("fullDuplex", link->halfDuplex != 1);
        } else {
            port.addNull("link").addNull("speedMbps").addNull("fullDuplex");
        }
        ports.push_back(port.text());
    }
    json.addRaw("ports", jsonArray(ports));
    return json.text();
}

std::string counterRatesJson(const NettlebeamApiStatistics& after, double seconds,
                             const std::vector<double>& rates,
                             const std::vector<std::string>& definitions) {
    JsonObject json = header(after);
    json.add("interval", seconds);
    std::vector<std::string> counters;
    for (std::size_t i = 0; i < rates.size(); ++i) {
        JsonObject counter;
        counter.add("counter", static_cast<int>(i + 1))
            .add("value", after.data.v2.counters[i])
            .add("perSecond", rates[i]);
        addDefinition(counter, definitions, i);
        counters.push_back(counter.text());
    }
    json.addRaw("counters", jsonArray(counters));
    return json.text();
}

}  // namespace beamctl
