# The default brand: the product this launcher was first built for. Every name a user, an
# administrator or the update service sees comes from a file like this one, chosen at configure
# time with -DLAUNCHER_BRAND=<file> (docs/branding.md describes each setting).

# The company and the managed application, as the texts and the file's properties name them.
set(LAUNCHER_BRAND_COMPANY "Osker")
set(LAUNCHER_BRAND_PRODUCT "Osker Map Updater")
set(LAUNCHER_BRAND_PRODUCT_ZH_TW "Osker Map Updater")
# The maker's own updater, named by the Chinese (PRC) running caption and the log.
set(LAUNCHER_BRAND_UPDATER "Tavrel Updater")

# Where the application lives: <Program Files>\<vendor>\<product>\<exe>, with the download
# folder <Temp>\<vendor>\<product>\ and the log in <Documents>\<log folder>\.
set(LAUNCHER_BRAND_APP_EXE "Osker Map Updater.exe")
set(LAUNCHER_BRAND_VENDOR_FOLDER "Osker")
set(LAUNCHER_BRAND_PRODUCT_FOLDER "Osker Map Updater")
set(LAUNCHER_BRAND_LOG_FOLDER "Osker")

# The update service: its origin, the path of the check and the SKU the check names; the
# download location is where releases are published (scripts/publish, the nginx template).
set(LAUNCHER_BRAND_SKU "024-K1187-05")
set(LAUNCHER_BRAND_UPDATE_URL "http://updates.osker.example")
set(LAUNCHER_BRAND_CHECK_PATH "/TavrelDeskyn/APIDispatcher/CheckDeskynToolUpdateAvailability")
set(LAUNCHER_BRAND_DOWNLOAD_URL "http://downloads.osker.example/osker/")

# Names of the launcher's kernel objects and of its window class.
set(LAUNCHER_BRAND_LAUNCHER_MUTEX "OskerMapUpdaterLauncher")
set(LAUNCHER_BRAND_INSTALL_MUTEX "OskerMapUpdaterInstall")
set(LAUNCHER_BRAND_LOG_LOCK "Osker log")
set(LAUNCHER_BRAND_WINDOW_CLASS "LAUNCHER")

# The file's properties (version resource), in Chinese (Taiwan) and in English.
set(LAUNCHER_BRAND_FILE_DESCRIPTION_ZH_TW "Osker Map Updater 啟動程式")
set(LAUNCHER_BRAND_FILE_DESCRIPTION "Osker Map Updater launcher")
set(LAUNCHER_BRAND_PRODUCT_NAME "Osker Map Updater launcher")

# The splash window's 330 x 82 banner (scripts/make-banners writes one).
set(LAUNCHER_BRAND_BANNER "${CMAKE_CURRENT_LIST_DIR}/../launcher/resources/bitmaps/banner_osker.bmp")
