"""Pieces shared by the service and the demo site: a request as the handlers see it, and a reply."""
import json


class Request:
    def __init__(self, server, method, target, path, query, headers, body, form):
        self.server = server      # "service" or "site"
        self.method = method
        self.target = target      # as sent
        self.path = path          # without the query, repeated slashes made one
        self.query = query        # name -> last value
        self.headers = headers    # email.message.Message
        self.body = body
        self.form = form          # name -> last value of an urlencoded body


class Reply:
    def __init__(self, status=200, body=b"", content_type="text/plain; charset=utf-8", headers=()):
        self.status = status
        self.body = body
        self.content_type = content_type
        self.headers = list(headers)
        self.compressible = False  # gzip when the client accepts it


def json_reply(value, status=200):
    return Reply(status, json.dumps(value, ensure_ascii=False).encode("utf-8"), "application/json; charset=utf-8")
