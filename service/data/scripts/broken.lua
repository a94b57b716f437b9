-- Site script with a syntax error: loading it must fail.
strVersion = "1.5.1.0"

function Vellix_ParseInfo(url, page)
    return { name = "never" 
end
