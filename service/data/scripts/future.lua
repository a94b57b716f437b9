-- Site script that asks for a newer program than any released one.
strVersion = "9.0.0.0"
strAppVersion = "3.0.0.0"
strExample = "http://future.vellix-demo.test/comic/1.html"

function Vellix_ParseInfo(url, page)
    return { type = "index", name = "From the future" }
end

function Vellix_ParseVolumes(url, page)
    return {}
end
