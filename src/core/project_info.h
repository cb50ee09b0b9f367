// This project's own credit and link texts, shown by the summary box, the
// JSON start event and the dashboard footer.
#pragma once

namespace dravik {

inline constexpr const char* kProjectContact = "Dravik maintainers <dravik-maintainers@example.org>";
inline constexpr const char* kProjectForum = "https://example.org/dravik/discussions";
inline constexpr const char* kProjectLink = "https://example.org/dravik";

// The four lines of the summary's credit box.
inline constexpr const char* kCreditLines[4] = {
    "Dravik - userspace RAM diagnostic for storage boxes that stay up",
    "Made by the Dravik maintainers",
    "Source, releases and issues: https://example.org/dravik",
    "Questions and results: https://example.org/dravik/discussions",
};

}  // namespace dravik
