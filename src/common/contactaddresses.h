#pragma once

// Where the program sends people. Kept in one place so a release can point
// them elsewhere without touching the code that shows them.
namespace ContactAddresses {

inline constexpr char HomePage[] = "https://www.example.com/pellucor/";
inline constexpr char EpsViewerSite[] = "https://viewer.example.com/";
inline constexpr char ContactPage[] = "https://www.example.com/contact/";
inline constexpr char SupportEmail[] = "support@example.com";

} // namespace ContactAddresses
