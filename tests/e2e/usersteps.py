"""Steps of a user through the program's windows, shared by the end-to-end tests, and what the
downloads must look like on disk afterwards (the demo site's comics, service/data/site.json)."""
import json
import os
import zipfile

import vxprogram

ADDRESS_BOX = 1002
START_BUTTON = 1102    # the download view's Start / Pause, shown while tasks are unfinished
VOLUME_LIST = 1111
CHECK_ALL = 1112
DOWNLOAD = 1114
VK_RETURN = 13
TASK_FINISHED = 2
IMAGE_DONE = 2
IMAGE_FAILED = 3

SITE_JSON = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                         "service", "data", "site.json")
with open(SITE_JSON, encoding="utf-8") as _f:
    SITE = json.load(_f)
COMICS = {c["id"]: c for c in SITE["comics"]}

# The program names a file by the exact Content-Type, else by the address's extension.
_TYPE_EXT = {"image/gif": "gif", "image/jpeg": "jpg", "image/png": "png", "image/webp": "webp"}
_MAGIC = {"jpeg": lambda b: b[:3] == b"\xff\xd8\xff", "png": lambda b: b[:8] == b"\x89PNG\r\n\x1a\n",
          "gif": lambda b: b[:4] == b"GIF8", "webp": lambda b: b[:4] == b"RIFF" and b[8:12] == b"WEBP"}


def page_ext(kind):
    t = SITE["types"][kind]
    return _TYPE_EXT.get(t["content_type"]) or ("webp" if t["ext"] == "webp" else "jpg")


def has_format(path, kind):
    with open(path, "rb") as f:
        return _MAGIC[SITE["types"][kind]["format"]](f.read(16))


def clean(name, folder=False):
    """A file or folder name as the program makes it of a site's text."""
    out = "".join("_" if c in '\\/:*?"<>|' else c for c in name)
    if folder:
        out = out or "_"
        stripped = out.rstrip(". ")
        out = stripped + "_" * (len(out) - len(stripped))
    return out


def expected_files(rename_type, comic, volume):
    """Relative paths (with '/') of a volume's images under the download folder for a "RenameType"."""
    title, vol = comic["name"], volume["title"]
    paths = []
    for n, kind in enumerate(volume["pages"], 1):
        ext = "." + page_ext(kind)
        if rename_type == 0:
            paths.append(clean("%s_%s_" % (title, vol)) + "%04d" % n + ext)
        elif rename_type == 2:
            paths.append("%s/%s/%04d%s" % (clean(title, True), clean(vol, True), n, ext))
        elif rename_type == 3:
            paths.append("%s/%s_%04d%s" % (clean(title, True), clean(vol, True), n, ext))
        else:
            paths.append("%s/%04d%s" % (clean("%s_%s" % (title, vol), True), n, ext))
    return paths


def files_under(folder):
    found = set()
    for d, _, names in os.walk(folder):
        for name in names:
            found.add(os.path.relpath(os.path.join(d, name), folder).replace(os.sep, "/"))
    return found


def main_window(driver, start_page=True):
    """The main window once start-up is over: the download view exists and, with start_page, the
    service's start page was asked for (its tab, once shown, puts its own address in the box)."""
    main = driver.top(vxprogram.MAIN_CLASS)
    driver.child(main, START_BUTTON, hidden=True)
    if start_page:
        service = driver.program.service
        vxprogram.wait_for("the start page", lambda: service.log("/recommended.html"), driver.program.args.bound,
                           alive=driver.program.alive)
    return main


def type_address(driver, main, address, asked):
    """The address typed into the address box and Enter, again while asked() stays false: a tab shown
    meanwhile puts its own address into the box, and a user types again."""
    box = driver.child(main, ADDRESS_BOX)
    for _ in range(5):
        driver.settext(box, address)
        driver.key(box, VK_RETURN)
        try:
            return vxprogram.wait_for(address, asked, 5, alive=driver.program.alive)
        except AssertionError:
            if driver.text(box) == address:
                raise
    raise AssertionError("the address box keeps losing %s" % address)


def open_address(driver, main, address, rows):
    """The comic page's address typed; the comic view's volume list once it holds rows volumes, and
    its Download button."""
    path = address.split("//", 1)[-1].split("/", 1)[-1]
    service = driver.program.service
    before = len(service.log("/" + path, server="site"))
    type_address(driver, main, address, lambda: len(service.log("/" + path, server="site")) > before)
    return wait_volumes(driver, main, rows)


def wait_volumes(driver, main, rows):
    download = driver.child(main, DOWNLOAD)
    lists = driver.child(main, VOLUME_LIST)

    # The view disables Download before it shows its "analysing" row and enables it once the
    # volumes are in: the count is read first, so an enabled button read after it means the
    # count was not the placeholder's.
    def listed():
        return (lists, download) if driver.count(lists) >= rows and driver.enabled(download) else None
    return vxprogram.wait_for("%d volumes in the comic view" % rows, listed, driver.program.args.bound,
                              alive=driver.program.alive)


def tick_all(driver, volumes):
    for i in range(driver.count(volumes)):
        driver.tick(volumes, i)
    return driver.items(volumes)


def tasks_done(program, count):
    """Every stored task finished with every image done, once there are count tasks."""
    tasks = program.query("SELECT Status FROM Task2")
    images = program.query("SELECT status FROM Image2")
    return (len(tasks) == count and all(s == TASK_FINISHED for s, in tasks) and images and
            all(s == IMAGE_DONE for s, in images))


def wait_stored(test, program, images):
    """Waits until the database holds every task finished and all of images done or failed. The
    download view shows an answer at once, the database worker stores it a little later."""
    def stored():
        tasks = program.query("SELECT COUNT(*), SUM(Status = ?) FROM Task2", (TASK_FINISHED,))[0]
        ended = program.query("SELECT COUNT(*) FROM Image2 WHERE status IN (?, ?)", (IMAGE_DONE, IMAGE_FAILED))[0][0]
        return tasks[0] > 0 and tasks[0] == tasks[1] and ended == images
    vxprogram.wait_for("every task and image stored as ended", stored, test.args.bound, alive=program.alive)


def check_downloads(test, program, rename_type, volumes, packed, folder=None):
    """volumes: (comic, volume) of site.json. Every image is where rename_type puts it, in the right
    format; Task2 and Image2 agree with the files; with packed, each task's archive (read by
    zipfile) holds exactly its images, and nothing else lies in the download folder."""
    folder = folder or program.downloads
    expected = set()
    for comic, volume in volumes:
        paths = expected_files(rename_type, comic, volume)
        expected.update(paths)
        for path, kind in zip(paths, volume["pages"]):
            test.assertTrue(os.path.isfile(os.path.join(folder, path)), path)
            test.assertTrue(has_format(os.path.join(folder, path), kind), path)
    tasks = program.query("SELECT rowid, Name, Path FROM Task2")
    test.assertEqual(len(tasks), len(volumes))
    archives = set()
    for rowid, name, path in tasks:
        images = program.query("SELECT target, ext, status FROM Image2 WHERE parent=?", (rowid,))
        test.assertTrue(images, name)
        on_disk = []
        for target, ext, status in images:
            test.assertEqual(status, IMAGE_DONE, target)
            local = linux_path(path + target + ext)
            test.assertTrue(os.path.isfile(local), local)
            on_disk.append(os.path.relpath(local, os.path.abspath(folder)).replace(os.sep, "/"))
        test.assertTrue(set(on_disk) <= expected, on_disk)
        if packed:
            archive = clean(name) + ".zip"
            archives.add(archive)
            with zipfile.ZipFile(os.path.join(folder, archive)) as z:
                test.assertIsNone(z.testzip(), archive)
                test.assertEqual(sorted(z.namelist()), sorted(t + e for t, e, _ in images))
                for target, ext, _ in images:
                    with open(linux_path(path + target + ext), "rb") as f:
                        test.assertEqual(z.read(target + ext), f.read(), target)
    test.assertEqual(files_under(folder), expected | archives)


def linux_path(windows_path):
    """A "Z:\\..." path of the program's as a Linux path."""
    if windows_path[:2].upper() != "Z:":
        raise AssertionError("%s is not on Z:" % windows_path)
    return windows_path[2:].replace("\\", "/")
