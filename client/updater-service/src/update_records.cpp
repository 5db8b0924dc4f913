#include "update_records.hpp"

#include <limits>

#include "json_document.hpp"

namespace kv {
namespace {

Result<JsonDocument> parse_object_document(std::string_view bytes) {
    auto document = parse_json_document(bytes);
    if (!document) return document;
    if (!document->value.is_object()) {
        return fail(invalid_type(document->value, "a map") + " at " + describe_position(bytes, bytes.size()));
    }
    return document;
}

// A JSON string literal; invalid UTF-8 becomes U+FFFD rather than an exception.
std::string json_text(const std::string& value) {
    return nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

template <class T>
Status take(T& field, Result<T> value) {
    if (!value) return fail(value.error());
    field = std::move(value).value();
    return ok();
}

}  // namespace

Result<AppManifest> parse_app_manifest(std::string_view bytes) {
    auto document = parse_object_document(bytes);
    if (!document) return fail(document.error());
    const JsonObjectReader root(*document, document->value, "");
    AppManifest manifest;
    if (Status s = take(manifest.version, root.required_string("version")); !s) return fail(s.error());
    const nlohmann::json* files = root.find("files");
    if (files == nullptr) return fail("missing field `files`" + root.where());
    if (!files->is_array()) return fail(invalid_type(*files, "a sequence") + " for field `files`" + root.where());
    for (std::size_t i = 0; i < files->size(); ++i) {
        const nlohmann::json& entry = (*files)[i];
        if (!entry.is_object()) return fail(invalid_type(entry, "struct ManifestFile") + " in field `files`" + root.where());
        const JsonObjectReader file(*document, entry, "/files/" + std::to_string(i));
        ManifestFile parsed;
        if (Status s = take(parsed.relative_path, file.required_string("relative_path")); !s) return fail(s.error());
        if (Status s = take(parsed.sha256, file.required_string("sha256")); !s) return fail(s.error());
        manifest.files.push_back(std::move(parsed));
    }
    return manifest;
}

Result<PendingInstallerUpdate> parse_pending_installer(std::string_view bytes) {
    auto document = parse_object_document(bytes);
    if (!document) return fail(document.error());
    const JsonObjectReader root(*document, document->value, "");
    PendingInstallerUpdate marker;
    if (Status s = take(marker.version, root.required_string("version")); !s) return fail(s.error());
    if (Status s = take(marker.installer_path, root.required_string("installer_path")); !s) return fail(s.error());
    if (Status s = take(marker.sha256, root.required_string("sha256")); !s) return fail(s.error());
    if (Status s = take(marker.signature, root.required_string("signature")); !s) return fail(s.error());
    if (Status s = take(marker.args, root.optional_string_list("args")); !s) return fail(s.error());
    return marker;
}

Result<PendingRelaunch> parse_pending_relaunch(std::string_view bytes) {
    auto document = parse_object_document(bytes);
    if (!document) return fail(document.error());
    const JsonObjectReader root(*document, document->value, "");
    constexpr auto u32_max = std::numeric_limits<std::uint32_t>::max();
    constexpr auto u64_max = std::numeric_limits<std::uint64_t>::max();
    PendingRelaunch marker;
    std::uint64_t pid = 0;
    if (Status s = take(marker.version, root.required_string("version")); !s) return fail(s.error());
    if (Status s = take(pid, root.required_unsigned("installer_pid", u32_max)); !s) return fail(s.error());
    if (Status s = take(marker.created_at, root.required_unsigned("created_at", u64_max)); !s) return fail(s.error());
    if (Status s = take(marker.installer_start_time, root.optional_unsigned("installer_start_time", u64_max)); !s) {
        return fail(s.error());
    }
    if (Status s = take(marker.installer_image, root.optional_string("installer_image")); !s) return fail(s.error());
    marker.installer_pid = static_cast<std::uint32_t>(pid);
    return marker;
}

Status check_pending_update_content(std::string_view bytes) {
    const auto document = parse_json_document(bytes);
    if (!document) return fail(document.error());
    if (!document->value.is_object()) return fail("not a JSON object");
    return ok();
}

std::string serialize_pending_relaunch(const PendingRelaunch& marker) {
    // Built by hand so the key order is the documented one, whatever the JSON library sorts.
    std::string text = "{\n";
    text += "  \"version\": " + json_text(marker.version) + ",\n";
    text += "  \"installer_pid\": " + std::to_string(marker.installer_pid) + ",\n";
    text += "  \"created_at\": " + std::to_string(marker.created_at) + ",\n";
    text += "  \"installer_start_time\": " + std::to_string(marker.installer_start_time) + ",\n";
    text += "  \"installer_image\": " + json_text(marker.installer_image) + "\n";
    text += "}";
    return text;
}

std::string serialize_app_manifest(const AppManifest& manifest) {
    std::string text = "{\n";
    text += "  \"version\": " + json_text(manifest.version) + ",\n";
    text += "  \"files\": [";
    for (std::size_t i = 0; i < manifest.files.size(); ++i) {
        text += i == 0 ? "\n" : ",\n";
        text += "    {\n";
        text += "      \"relative_path\": " + json_text(manifest.files[i].relative_path) + ",\n";
        text += "      \"sha256\": " + json_text(manifest.files[i].sha256) + "\n";
        text += "    }";
    }
    text += manifest.files.empty() ? "]\n" : "\n  ]\n";
    text += "}\n";
    return text;
}

std::string serialize_pending_installer(const PendingInstallerUpdate& marker) {
    std::string text = "{\n";
    text += "  \"version\": " + json_text(marker.version) + ",\n";
    text += "  \"installer_path\": " + json_text(marker.installer_path) + ",\n";
    text += "  \"sha256\": " + json_text(marker.sha256) + ",\n";
    // The signature's line breaks and tabs become \n and \t escapes here.
    text += "  \"signature\": " + json_text(marker.signature) + ",\n";
    text += "  \"args\": [";
    for (std::size_t i = 0; i < marker.args.size(); ++i) text += (i == 0 ? "" : ", ") + json_text(marker.args[i]);
    text += "]\n";
    text += "}\n";
    return text;
}

}  // namespace kv
