-- Site script of the demo comic site: comic pages, single-volume pages and the page-image list
-- that each volume page names through its reader element.
strVersion = "1.5.1.0"
strAppVersion = "2.5.0.35"
strExample = "@SITE_ROOT@/comic/harbor.html"

local entities = { amp = "&", lt = "<", gt = ">", quot = '"', apos = "'" }

local function unescape(s)
    s = s:gsub("&#(%d+);", function(n)
        n = tonumber(n)
        if n and n < 128 then return string.char(n) end
    end)
    return (s:gsub("&(%a+);", entities))
end

local function trim(s)
    return (s:gsub("^%s+", ""):gsub("%s+$", ""))
end

local function text_of(page, pattern)
    local s = page:match(pattern)
    if s then return trim(unescape(s)) end
end

local function site_root(url)
    return url:match("^(https?://[^/]+)")
end

-- Only site paths get the site's root; any other address is passed on as the page gives it, so
-- the program, not the script, decides what it will open.
local function absolute(root, ref)
    if ref:match("^/[^/\\]") then return root .. ref end
    return ref
end

-- Pages of this site name their charset in a meta element; GBK pages become UTF-8 here.
local function utf8_page(page)
    local charset = page:match('<meta charset="?([%w_%-]+)')
    if charset then
        charset = charset:lower()
        if charset == "gbk" or charset == "gb2312" then
            return vxapi2.ToUTF8(page, 936) or page
        end
    end
    return page
end

-- A desktop address for the mobile one that visitors paste from their phones.
function Vellix_BeforeNavigate(url, data)
    local root, rest = url:match("^(https?://[^/]+)/m(/comic/.*)$")
    if root then
        vxapi2.Set("CurrentURL", root .. rest)
        return true
    end
    return false
end

function Vellix_ParseInfo(url, page)
    local root = site_root(url)
    page = utf8_page(page)
    if url:match("/comic/[%w_%-]+/[%w_%-]+%.html") then
        local name = text_of(page, '<h1 id="name"><a [^>]*>(.-)</a></h1>')
        local volname = text_of(page, '<h2 id="volume">(.-)</h2>')
        if not name or not volname then error("not a volume page: " .. url) end
        return { type = "volume", name = name, volname = volname }
    end
    local name = text_of(page, '<h1 id="name">(.-)</h1>')
    if not name then error("not a comic page: " .. url) end
    local info = {
        type = "index",
        name = name,
        author = text_of(page, '<span id="author">(.-)</span>') or "",
        category = text_of(page, '<span id="category">(.-)</span>') or "",
        intro = trim(page:match('<div id="intro">(.-)</div>') or ""),
    }
    local cover = page:match('<img id="cover" src="([^"]+)"')
    if cover then info.cover = absolute(root, unescape(cover)) end
    local status = text_of(page, '<span id="status">(.-)</span>')
    if status == "finished" then
        info.finished = true
    elseif status == "ongoing" then
        info.finished = false
    end
    return info
end

function Vellix_ParseVolumes(url, page)
    local root = site_root(url)
    page = utf8_page(page)
    local volumes = {}
    local list = page:match('<ul id="volumes">(.-)</ul>')
    if list then
        for href, title in list:gmatch('<li><a href="([^"]+)">(.-)</a></li>') do
            volumes[#volumes + 1] = { title = trim(unescape(title)), url = absolute(root, unescape(href)) }
        end
    end
    return volumes
end

function Vellix_ParseImages(url)
    local root = site_root(url)
    local page = vxapi2.HttpGet(url)
    if not page then error("cannot fetch " .. url) end
    local api = page:match('data%-api="([^"]+)"')
    if not api then error("no page list on " .. url) end
    local list = vxapi2.ParseJSON(vxapi2.HttpGet(absolute(root, unescape(api)), url) or "")
    if type(list) ~= "table" or type(list.pages) ~= "table" then
        error("unreadable page list for " .. url)
    end
    vxapi2.Notify("count", #list.pages)
    local images = {}
    for _, p in ipairs(list.pages) do
        local image = absolute(root, p.src)
        vxapi2.Notify("URL", image)
        images[#images + 1] = { url = image, ref = url }
    end
    return images
end
