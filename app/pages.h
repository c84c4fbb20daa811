#pragma once

// The maker's web pages, in one place. The menu opens the purchase and
// upgrade pages with "open"; the build writes the bundle's two .url files,
// "Quillaby WebPage AppStore.url" and "Quillaby Donations.url", from the
// App Store and donation lines (app/install.cmake reads them from here, so
// each address must stay on one line in double quotes).
inline constexpr char kPurchasePageURL[] = "https://fernhollow.software/quillaby/purchase";
inline constexpr char kUpgradePageURL[] = "https://fernhollow.software/quillaby/upgrade";
inline constexpr char kAppStorePageURL[] = "https://fernhollow.software/quillaby/app-store";
inline constexpr char kDonationPageURL[] = "https://fernhollow.software/quillaby/donate";
