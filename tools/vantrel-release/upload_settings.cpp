#include "vantrel-release/upload_settings.hpp"

#include <charconv>
#include <cstdlib>
#include <vector>

namespace vantrel::release_tool {
namespace {

constexpr std::string_view default_region = "us-east-1";

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0' ? std::nullopt : std::optional<std::string>(value);
}

std::optional<std::string_view> option_or_environment(const Arguments& arguments,
                                                      std::string_view option,
                                                      const std::optional<std::string>& variable) {
    if (const auto value = arguments.value(option))
        return value;
    if (variable)
        return *variable;
    return std::nullopt;
}

Outcome<std::optional<std::size_t>> parse_keep(std::optional<std::string_view> text) {
    if (!text)
        return std::optional<std::size_t>();
    std::size_t keep = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), keep);
    if (error != std::errc() || end != text->data() + text->size() || keep == 0)
        return Failure{"--keep takes a number of versions of at least 1, not \"" +
                       std::string(*text) + "\""};
    return std::optional<std::size_t>(keep);
}

}  // namespace

Outcome<Settings> read_settings(const Arguments& arguments) {
    const std::vector<std::string>& operands = arguments.operands();
    Outcome<StoreLocation> location = parse_store_url(operands[1]);
    if (!location)
        return std::move(location).error();
    const std::optional<std::string> region_variable = environment("AWS_REGION");
    const std::optional<std::string> endpoint_variable = environment("AWS_ENDPOINT_URL");
    Outcome<StoreEndpoint> endpoint = store_endpoint(
        option_or_environment(arguments, "endpoint", endpoint_variable),
        option_or_environment(arguments, "region", region_variable).value_or(default_region));
    if (!endpoint)
        return std::move(endpoint).error();
    Outcome<std::optional<std::size_t>> keep = parse_keep(arguments.value("keep"));
    if (!keep)
        return std::move(keep).error();
    Settings settings{operands[0], std::move(location).value(), std::move(endpoint).value(), {},
                      {},          std::move(keep).value(),     arguments.has("dry-run")};
    if (const auto url = arguments.value("public-url")) {
        Outcome<HostAddress> host = parse_host_url(*url);
        if (!host)
            return std::move(host).error();
        settings.public_host = std::move(host).value();
    }
    if (const auto ca_file = arguments.value("ca-file"))
        settings.ca_file = std::string(*ca_file);
    return settings;
}

Outcome<Credentials> credentials_from_environment() {
    std::optional<std::string> access_key = environment("AWS_ACCESS_KEY_ID");
    std::optional<std::string> secret_key = environment("AWS_SECRET_ACCESS_KEY");
    if (!access_key || !secret_key) {
        return Failure{
            "no credentials for the store: set AWS_ACCESS_KEY_ID and "
            "AWS_SECRET_ACCESS_KEY (and AWS_SESSION_TOKEN for temporary ones)"};
    }
    return Credentials{std::move(*access_key), std::move(*secret_key),
                       environment("AWS_SESSION_TOKEN")};
}

}  // namespace vantrel::release_tool
