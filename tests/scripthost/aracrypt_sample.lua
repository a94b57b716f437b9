-- A site script as the service would deliver it, before enciphering.
local title = "Ünïcödé 漫画 — «quotes» & <tags>"
function ParseInfo(url, page)
    return { name = title, author = "N/A", type = "index" }
end
return 1 -- demo
