# An example brand: another company's product in front of the same launcher. Copy this file,
# change every value and configure with -DLAUNCHER_BRAND=<your file> (docs/branding.md). The
# test suite builds it (brand_example) to show that no name of the default brand is left.

# The company and the managed application, as the texts and the file's properties name them.
set(LAUNCHER_BRAND_COMPANY "Larkspur Software")
set(LAUNCHER_BRAND_PRODUCT "Larkspur Atlas")
set(LAUNCHER_BRAND_PRODUCT_ZH_TW "雲雀地圖集")
# The name of the updating service the Chinese (PRC) running caption and the log show.
set(LAUNCHER_BRAND_UPDATER "Larkspur Atlas Updater")

# Where the application lives: <Program Files>\<vendor>\<product>\<exe>, with the download
# folder <Temp>\<vendor>\<product>\ and the log in <Documents>\<log folder>\.
set(LAUNCHER_BRAND_APP_EXE "Atlas.exe")
set(LAUNCHER_BRAND_VENDOR_FOLDER "Larkspur")
set(LAUNCHER_BRAND_PRODUCT_FOLDER "Atlas")
set(LAUNCHER_BRAND_LOG_FOLDER "Larkspur Logs")

# The update service: its origin, the path of the check and the SKU the check names; the
# download location is where releases are published (scripts/publish, the nginx template).
set(LAUNCHER_BRAND_SKU "LKS-ATLAS-3")
set(LAUNCHER_BRAND_UPDATE_URL "http://updates.larkspur.example")
set(LAUNCHER_BRAND_CHECK_PATH "/atlas/v1/update-check")
set(LAUNCHER_BRAND_DOWNLOAD_URL "http://downloads.larkspur.example/atlas/")

# Names of the launcher's kernel objects and of its window class.
set(LAUNCHER_BRAND_LAUNCHER_MUTEX "LarkspurAtlasLauncher")
set(LAUNCHER_BRAND_INSTALL_MUTEX "LarkspurAtlasInstall")
set(LAUNCHER_BRAND_LOG_LOCK "Larkspur Atlas log")
set(LAUNCHER_BRAND_WINDOW_CLASS "LarkspurAtlasSplash")

# The file's properties (version resource), in Chinese (Taiwan) and in English.
set(LAUNCHER_BRAND_FILE_DESCRIPTION_ZH_TW "雲雀地圖集 啟動程式")
set(LAUNCHER_BRAND_FILE_DESCRIPTION "Larkspur Atlas launcher")
set(LAUNCHER_BRAND_PRODUCT_NAME "Larkspur Atlas launcher")

# The splash window's 330 x 82 banner (scripts/make-banners writes this one).
set(LAUNCHER_BRAND_BANNER "example-banner.bmp")
